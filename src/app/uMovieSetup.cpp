// The main form's movies: their creation and set-up while the form is created, the movie assignment when it is
// shown, the forwarding of keys and clicks, the movie's "quit" command and the tear-down.
#include <windows.h>

#include <algorithm>

#include "flash/uFlashUtils.h"
#include "forms/Callbacks.h"
#include "forms/CommandLine.h"
#include "forms/FileStream.h"
#include "support/uFileUrl.h"
#include "support/uInstanceGuard.h"
#include "support/uPathSafety.h"
#include "support/uSysUtils.h"
#include "uMain.h"
#include "uRunFolder.h"
#include "ui/uDialog.h"
#include "ui/uSimpleWebLabel.h"

namespace {

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) noexcept {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    try {
        if (GetMonitorInfoA(monitor, &info)) reinterpret_cast<std::vector<RECT>*>(data)->push_back(info.rcMonitor);
    } catch (...) {
        return FALSE; // the monitors found so far are all there is room for
    }
    return TRUE;
}

// The monitors' rectangles in the system's enumeration order.
std::vector<RECT> MonitorRects() {
    std::vector<RECT> monitors;
    EnumDisplayMonitors(nullptr, nullptr, SystemCallback(AddMonitor), reinterpret_cast<LPARAM>(&monitors));
    return monitors;
}

// Every assignment on a control stands on its own: one that fails leaves the others to be tried.
template <class TAction> bool Guarded(TAction action) {
    try {
        action();
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

std::string MovieFlashVars(const std::string& extraFlashVars, TScreenSaverMode mode) {
    std::string modeText = mode == ssmPreview ? "preview" : mode == ssmRun ? "normal" : "";
    std::string vars = "mutonemode=" + modeText;
    return extraFlashVars.empty() ? vars : extraFlashVars + "&" + vars;
}

std::vector<uint32_t> MovieBlockedMessages(TScreenSaverMode mode, bool allowRightClick) {
    std::vector<uint32_t> blocked;
    if (!allowRightClick) blocked.push_back(WM_RBUTTONDOWN);
    if (mode != ssmRun) {
        // Mouse, keyboard, tablet and pen messages.
        static const std::pair<uint32_t, uint32_t> ranges[] = {
            {0x200, 0x20A}, {0x100, 0x108}, {0x2C0, 0x2DF}, {0x380, 0x38F}};
        for (const auto& [first, last] : ranges)
            for (uint32_t msg = first; msg <= last; ++msg)
                blocked.push_back(msg);
    }
    return blocked;
}

TShockwaveFlashEx* CreateMovieControl(TfrmMain& form, TFSCommandEvent onFSCommand) {
    // The control's filter needs these facts of the form before the control receives its first message.
    auto* control =
        new TShockwaveFlashEx(&form, form.Handle(), form.ScreenSaver->Mode() == ssmPreview, form.ThrottlePreview);
    form.MovieControls.push_back(control);
    try {
        control->OnFSCommand = std::move(onFSCommand);
    } catch (...) {
    }
    try {
        if (form.Flash.VersionAtLeast("8.0")) control->DisableLocalSecurity();
    } catch (...) {
    }
    control->SetBlockedMessages(MovieBlockedMessages(form.ScreenSaver->Mode(), form.AllowRightClick));
    control->SetParent(&form);
    return control;
}

bool TfrmMain::SetUpMovies() {
    MoviePending = true;
    MovieControls.clear();
    // Asked once: every further check of the run (each control's, the show's) is answered from what was found here.
    Flash = AskFlashInstallation();
    if (!Flash.Available) return SetUpWithoutPlayer();
    LoadSettings();

    const TScreenSaverMode mode = ScreenSaver->Mode();
    // A control too old for the content would stay empty: where the content says why, no control is made, so that
    // nothing covers its text. The preview stays as it is, too small to say anything.
    if (!NoPlayerText.empty() && mode != ssmPreview && !Flash.VersionAtLeast(RequiredFlashVersion)) {
        ShowNoPlayerText();
        return true;
    }
    auto onFSCommand = [this](const std::wstring& command, const std::wstring& args) { MovieFSCommand(command, args); };
    if (mode == ssmPreview) {
        CreateMovieControl(*this, onFSCommand)->SetAlign(TAlign::alClient);
    } else if (mode == ssmRun) {
        if (MonitorLayout == 0) {
            CreateMovieControl(*this, onFSCommand)->SetAlign(TAlign::alClient);
        } else if (MonitorLayout == 1 || MonitorLayout == 2) {
            const size_t monitors = MonitorRects().size();
            for (size_t i = 0; i < (MonitorLayout == 1 ? std::min<size_t>(monitors, 1) : monitors); ++i)
                CreateMovieControl(*this, onFSCommand);
            PlaceMoviesOnMonitors();
        }
    }

    const std::string flashVars = MovieFlashVars(ExtraFlashVars, mode);
    for (TShockwaveFlashEx* control : MovieControls) {
        Guarded([&] { control->SetLoop(LoopMovie); });
        Guarded([&] { control->SetMenu(MovieMenu); });
        Guarded([&] { control->SetQuality(MovieQuality); });
        Guarded([&] { control->SetFlashVars(flashVars); });
        Guarded([&] { control->SetBackgroundColor(MovieBackgroundColor); });
    }
    return true;
}

void TfrmMain::PlaceMoviesOnMonitors() {
    if (ScreenSaver->Mode() != ssmRun || (MonitorLayout != 1 && MonitorLayout != 2)) return;
    // The form's origin is the desktop's top-left corner, so monitors are placed relative to it.
    const int desktopLeft = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int desktopTop = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const std::vector<RECT> monitors = MonitorRects();
    for (size_t i = 0; i < MovieControls.size() && i < monitors.size(); ++i) {
        const RECT& monitor = monitors[i];
        MovieControls[i]->SetBounds(monitor.left - desktopLeft, monitor.top - desktopTop, monitor.right - monitor.left,
                                    monitor.bottom - monitor.top);
    }
}

bool TfrmMain::SetUpWithoutPlayer() {
    const TScreenSaverMode mode = ScreenSaver->Mode();
    if (mode != ssmRun && mode != ssmConfigure) return false;
    try {
        LoadSettings(ParamStr(0), false);
    } catch (...) {
        NoPlayerText.clear(); // a damaged store: black and silent, as without a text
    }
    if (NoPlayerText.empty()) {
        // Configure mode shows whatever dialog exists: without the content's word there is none, as always.
        if (Dialog) std::exchange(Dialog, nullptr)->Free();
        return false;
    }
    ShowNoPlayerText();
    return true;
}

void TfrmMain::ShowNoPlayerText() {
    if (Dialog) {
        Dialog->lblCopyright->SetCaption(NoPlayerText);
        Dialog->lblCopyright->SetURL(NoPlayerLink);
    }
    if (ScreenSaver->Mode() == ssmRun) {
        FPaintsItself = true;
        Invalidate();
    }
}

void TfrmMain::PaintWindow(HDC dc, const RECT& client) {
    FillBackground(dc, client);
    if (NoPlayerText.empty()) return;
    // The content's text is only ever drawn as text: no prefixes, no tabs expanded, nothing formatted.
    const std::wstring text = AnsiToWide(NoPlayerText);
    LOGFONTW look{};
    if (!GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof look, &look)) return;
    look.lfHeight = -24; // readable across a room; pixels, as every size of the program
    look.lfWidth = 0;
    TGdiObject<HFONT> font(CreateFontIndirectW(&look));
    if (!font) return;
    TSelectObject selected(dc, font.get());
    SetTextColor(dc, RGB(0xE0, 0xE0, 0xE0));
    SetBkMode(dc, TRANSPARENT);
    const UINT format = DT_CENTER | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL;
    const int desktopLeft = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int desktopTop = GetSystemMetrics(SM_YVIRTUALSCREEN);
    for (const RECT& monitor : MonitorRects()) {
        // A margin on each side keeps the lines off the monitor's edges; the text is centred in what remains.
        RECT box{monitor.left - desktopLeft + 40, 0, monitor.right - desktopLeft - 40, 0};
        if (box.right <= box.left) continue;
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, format | DT_CALCRECT);
        const int width = box.right - box.left, height = box.bottom - box.top;
        const int centreX = (monitor.left + monitor.right) / 2 - desktopLeft;
        const int centreY = (monitor.top + monitor.bottom) / 2 - desktopTop;
        box = {centreX - width / 2, centreY - height / 2, centreX - width / 2 + width, centreY - height / 2 + height};
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, format);
    }
}

void TfrmMain::FormShow(TObject*) {
    if (MoviePending && !MovieControls.empty() && Flash.VersionAtLeast(RequiredFlashVersion)) {
        MoviePending = false;
        const std::wstring movieUrl = FileUrlFromPath(AnsiToWide(MoviePath));
        for (TShockwaveFlashEx* control : MovieControls) {
            if (!Guarded([&] { control->SetMovie(movieUrl); })) MoviePending = true;
            if (ScreenSaver->Mode() == ssmRun && !MovieScale.empty() &&
                !Guarded([&] { control->SetScale(MovieScale); }))
                MoviePending = true;
        }
    }
    if (std::exchange(StartPending, false)) FinishStart();
}

void TfrmMain::WndProc(TMessage& message) {
    TForm::WndProc(message);
    const UINT msg = message.Msg;
    // The screensaver component has made the form cover the desktop again; each movie follows its monitor.
    if (msg == WM_DISPLAYCHANGE || msg == WM_DPICHANGED) PlaceMoviesOnMonitors();
    // An interactive movie gets the keys and clicks that reach the form.
    if (msg == WM_KEYDOWN || msg == WM_KEYUP || (msg >= WM_LBUTTONDOWN && msg <= WM_MBUTTONDBLCLK)) {
        for (TShockwaveFlashEx* control : MovieControls)
            if (control->HandleAllocated()) PostMessageA(control->Handle(), msg, message.WParam, message.LParam);
    }
}

void TfrmMain::MovieFSCommand(const std::wstring& command, const std::wstring&) {
    std::wstring lower = command;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](wchar_t c) { return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c; });
    if (lower == L"quit" && ScreenSaver->Mode() == ssmRun) Close();
}

void TfrmMain::ReleaseMovies() {
    try {
        for (TShockwaveFlashEx* control : MovieControls)
            control->SetClosing(true);
        for (TShockwaveFlashEx* control : MovieControls) {
            Guarded([&] { control->Stop(); });
            Guarded([&] { control->StopPlay(); });
            Guarded([&] { control->SetVisible(false); });
            Guarded([&] { control->Free(); });
        }
        MovieControls.clear();

        for (const std::string& path : TempFiles)
            if (FileExists(path)) DeleteFileA(path.c_str());
        TempFiles.clear();
        TRunFolder folder{TempFolder, std::move(TempFolderMarker)};
        RemoveRunFolder(folder);
        TempFolder.clear();
    } catch (...) {
        // The tear-down ends silently wherever it fails.
    }
}

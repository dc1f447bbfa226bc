// The main form's movies: their creation and set-up while the form is created, the movie assignment when it is
// shown, the forwarding of keys and clicks, the movie's "quit" command and the tear-down.
#include <windows.h>

#include <algorithm>

#include "flash/uFlashUtils.h"
#include "forms/Callbacks.h"
#include "forms/FileStream.h"
#include "support/uFileUrl.h"
#include "support/uInstanceGuard.h"
#include "support/uPathSafety.h"
#include "support/uSysUtils.h"
#include "uMain.h"
#include "uRunFolder.h"
#include "ui/uDialog.h"

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
    if (!Flash.Available) return false;
    LoadSettings();

    auto onFSCommand = [this](const std::wstring& command, const std::wstring& args) { MovieFSCommand(command, args); };
    const TScreenSaverMode mode = ScreenSaver->Mode();
    if (mode == ssmPreview) {
        CreateMovieControl(*this, onFSCommand)->SetAlign(TAlign::alClient);
    } else if (mode == ssmRun) {
        // The form's origin is the desktop's top-left corner, so monitors are placed relative to it.
        const int desktopLeft = GetSystemMetrics(SM_XVIRTUALSCREEN);
        const int desktopTop = GetSystemMetrics(SM_YVIRTUALSCREEN);
        std::vector<RECT> monitors = MonitorRects();
        auto placeOn = [&](const RECT& monitor) {
            CreateMovieControl(*this, onFSCommand)
                ->SetBounds(monitor.left - desktopLeft, monitor.top - desktopTop, monitor.right - monitor.left,
                            monitor.bottom - monitor.top);
        };
        if (MonitorLayout == 0) {
            CreateMovieControl(*this, onFSCommand)->SetAlign(TAlign::alClient);
        } else if (MonitorLayout == 1 && !monitors.empty()) {
            placeOn(monitors.front());
        } else if (MonitorLayout == 2) {
            for (const RECT& monitor : monitors)
                placeOn(monitor);
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
    // An interactive movie gets the keys and clicks that reach the form.
    const UINT msg = message.Msg;
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

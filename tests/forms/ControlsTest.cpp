// Fonts, label, button and picture control under Wine, driven with real input (SendInput) and read back from
// the screen.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "BMPBuilder.h"
#include "FormsFixture.h"
#include "PEBuilder.h"
#include "forms/BitmapReader.h"
#include "forms/Classes.h"
#include "forms/ExtCtrls.h"
#include "forms/StdCtrls.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Pixels = std::vector<uint32_t>;

const wchar_t* const JapaneseFace = L"ＭＳ Ｐゴシック";
const wchar_t* const CloseCaption = L"閉じる(&C)";

class ControlsTest : public FormsTest {};

// --- Input and screen ---

void Send(std::vector<INPUT> inputs) {
    ASSERT_EQ(SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)), inputs.size());
}

INPUT MouseInput(DWORD flags, int x = 0, int y = 0) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    // Absolute coordinates run from 0 to 65535 over the virtual desktop, which may start left of the primary.
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN), height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    input.mi.dx = static_cast<LONG>(((x - left) * 65535LL + width / 2) / (width - 1));
    input.mi.dy = static_cast<LONG>(((y - top) * 65535LL + height / 2) / (height - 1));
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
    return input;
}

void MoveTo(POINT screen) {
    Send({MouseInput(MOUSEEVENTF_MOVE, screen.x, screen.y)});
}

void Button(bool down) {
    Send({MouseInput(down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP)});
}

INPUT KeyInput(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

void Keys(const std::vector<WORD>& keys) {
    std::vector<INPUT> inputs;
    for (WORD key : keys)
        inputs.push_back(KeyInput(key, false));
    for (auto key = keys.rbegin(); key != keys.rend(); ++key)
        inputs.push_back(KeyInput(*key, true));
    Send(inputs);
}

POINT ScreenPoint(TWinControl& control, int x, int y) {
    POINT point{x, y};
    ClientToScreen(control.Handle(), &point);
    return point;
}

POINT Centre(TWinControl& control) {
    return ScreenPoint(control, control.ClientWidth() / 2, control.ClientHeight() / 2);
}

// A part of the screen, 0x00RRGGBB, rows top-down.
Pixels CaptureScreen(const RECT& rect) {
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, section);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    Pixels pixels(static_cast<const uint32_t*>(bits), static_cast<const uint32_t*>(bits) + width * height);
    SelectObject(memory, old);
    DeleteObject(section);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    for (uint32_t& pixel : pixels)
        pixel &= 0xFFFFFF;
    return pixels;
}

// The client area as drawn on the screen.
Pixels Capture(TWinControl& control) {
    const POINT origin = ScreenPoint(control, 0, 0);
    return CaptureScreen({origin.x, origin.y, origin.x + control.ClientWidth(), origin.y + control.ClientHeight()});
}

// Keeps a screenshot of the window, frame included, for people to look at, beside the test program.
void SaveArtefact(TWinControl& control, const std::string& name) {
    RECT rect;
    GetWindowRect(control.Handle(), &rect);
    WriteFileBytes(name,
                   BuildBMP(MakeBitmap(CaptureScreen(rect), rect.right - rect.left, rect.bottom - rect.top, 32, true)));
}

void Paint(TWinControl& control) {
    RedrawWindow(control.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Application->ProcessMessages();
}

// --- Fonts ---

TEST_F(ControlsTest, FontsAreMadeByFaceNamePixelHeightAndCharacterSet) {
    TFont font;
    int changes = 0;
    font.OnChange = [&](TObject*) { ++changes; };
    font.SetName(JapaneseFace);
    font.SetHeight(12);
    font.SetCharset(SHIFTJIS_CHARSET);
    font.SetStyle(fsUnderline);
    EXPECT_EQ(changes, 4);

    HFONT handle = font.Handle();
    LOGFONTW described{};
    ASSERT_EQ(GetObjectW(handle, sizeof described, &described), static_cast<int>(sizeof described));
    EXPECT_EQ(described.lfHeight, -12);
    EXPECT_EQ(std::wstring(described.lfFaceName), JapaneseFace);
    EXPECT_TRUE(described.lfUnderline);

    // The test prefix maps the face to a Japanese font, so the realised font has the asked character height and
    // character set instead of a substitute's.
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, handle);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    EXPECT_EQ(metrics.tmHeight - metrics.tmInternalLeading, 12);
    EXPECT_EQ(metrics.tmCharSet, SHIFTJIS_CHARSET);

    // The colour is not part of the font object; everything else makes a new one.
    font.SetColor(clRed);
    EXPECT_EQ(font.Handle(), handle);
    font.SetHeight(20);
    GetObjectW(font.Handle(), sizeof described, &described);
    EXPECT_EQ(described.lfHeight, -20);
}

TEST_F(ControlsTest, ChildrenFollowTheirParentsFontUntilTheirOwnChanges) {
    auto* form = NewForm<TPlainForm>();
    auto* label = new TLabel(form);
    label->SetParent(form);
    auto* button = new TButton(form);
    button->SetParent(form);
    form->Font().SetHeight(24);
    EXPECT_EQ(label->Font().Height(), 24);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(button->Handle(), WM_GETFONT, 0, 0)), button->Font().Handle());
    LOGFONTW described{};
    GetObjectW(button->Font().Handle(), sizeof described, &described);
    EXPECT_EQ(described.lfHeight, -24);

    label->Font().SetHeight(10);
    form->Font().SetHeight(30);
    EXPECT_FALSE(label->ParentFont());
    EXPECT_EQ(label->Font().Height(), 10);
    EXPECT_EQ(button->Font().Height(), 30);
}

// --- Label ---

TEST_F(ControlsTest, LabelSizesItselfToItsTextAndShowsAmpersandsAsAsked) {
    auto* form = NewForm<TPlainForm>();
    form->SetColor(0x00C0FFC0);
    auto* label = new TLabel(form);
    label->SetParent(form);
    label->SetBounds(5, 7, 1, 1);
    label->Font().SetHeight(16);
    label->Font().SetColor(clBlue);

    const std::wstring text = L"R&&D & Co";
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, label->Font().Handle());
    SIZE literal{}, prefixed{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &literal);
    GetTextExtentPoint32W(dc, L"R&D  Co", 7, &prefixed); // "&&" shows one ampersand, "& " underlines the blank
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);

    label->SetCaption(text);
    EXPECT_EQ(label->Width(), prefixed.cx);
    EXPECT_EQ(label->Height(), prefixed.cy);
    label->SetShowAccelChar(false);
    EXPECT_EQ(label->Width(), literal.cx);
    EXPECT_EQ(label->Height(), literal.cy);
    EXPECT_EQ(label->Left(), 5);
    EXPECT_EQ(label->Top(), 7);

    label->SetAutoSize(false);
    label->SetCaption(std::string("a much longer caption than before"));
    EXPECT_EQ(label->Width(), literal.cx);

    // Text in the font colour on the parent's background, and nothing else.
    form->Show();
    Paint(*form);
    const Pixels pixels = Capture(*label);
    const auto count = [&](uint32_t colour) { return std::count(pixels.begin(), pixels.end(), colour); };
    EXPECT_GT(count(0x0000FF), 10);
    EXPECT_GT(count(0xC0FFC0), static_cast<long>(pixels.size() / 2));
}

// Hover, press, move out and back in, release: the label captures the mouse while the button is held, sees the
// pointer leave and enter all the same, and clicks only when released over itself.
TEST_F(ControlsTest, LabelCapturesWhileHeldAndClicksOnReleaseOverIt) {
    auto* form = NewForm<TPlainForm>();
    form->SetBounds(100, 100, 300, 200);
    auto* label = new TLabel(form);
    label->SetParent(form);
    label->SetBounds(40, 40, 0, 0);
    label->Font().SetHeight(20);
    label->SetCaption(std::string("a link to press"));
    int entered = 0, left = 0, clicked = 0;
    label->OnMouseEnter = [&](TObject*) {
        ++entered;
        label->SetCursor(crHandPoint);
    };
    label->OnMouseLeave = [&](TObject*) {
        ++left;
        label->SetCursor(crDefault);
    };
    label->OnClick = [&](TObject*) { ++clicked; };
    form->Show();
    Paint(*form);
    const POINT outside = ScreenPoint(*form, 10, 150), inside = Centre(*label);

    MoveTo(outside);
    Application->ProcessMessages();
    MoveTo(inside);
    ASSERT_TRUE(PumpUntil([&] { return entered == 1; }));
    // The cursor changes at once, not only at the next move.
    EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_HAND));

    Button(true);
    ASSERT_TRUE(PumpUntil([&] { return GetCapture() == label->Handle(); }));
    MoveTo(outside);
    ASSERT_TRUE(PumpUntil([&] { return left == 1; }));
    EXPECT_EQ(GetCapture(), label->Handle());
    MoveTo(inside);
    ASSERT_TRUE(PumpUntil([&] { return entered == 2; }));
    Button(false);
    ASSERT_TRUE(PumpUntil([&] { return clicked == 1; }));
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(left, 1);

    // Released elsewhere: no click, and the capture ends all the same.
    Button(true);
    ASSERT_TRUE(PumpUntil([&] { return GetCapture() == label->Handle(); }));
    MoveTo(outside);
    ASSERT_TRUE(PumpUntil([&] { return left == 2; }));
    Button(false);
    ASSERT_TRUE(PumpUntil([&] { return GetCapture() == nullptr; }));
    EXPECT_EQ(clicked, 1);
    EXPECT_EQ(entered, 2);
    EXPECT_NE(GetCursor(), LoadCursor(nullptr, IDC_HAND));
}

// --- Picture ---

const Pixels FourColoursPixels = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x000000, 0xFFFF00, 0x00FFFF, 0xFF00FF};

// Four by two pixels of distinct colours.
Bytes FourColours() {
    return BuildBMP(MakeBitmap(FourColoursPixels, 4, 2, 24, false));
}

void Load(TImage& image, const Bytes& file) {
    TMemoryStream stream;
    stream.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
    stream.SetPosition(0);
    image.Picture().Bitmap().LoadFromStream(stream);
}

// Paints like a picture control and fails while asked to.
class TFailingPainter : public TWinControl {
public:
    explicit TFailingPainter(TComponent* owner) : TWinControl(owner) {
        FVisible = true;
        FPaintsItself = true;
    }
    std::string ClassName() const override { return "TFailingPainter"; }
    bool Fail = true;

protected:
    void PaintWindow(HDC dc, const RECT& client) override {
        FillBackground(dc, client);
        if (Fail) throw Exception("painting failed");
    }
};

TEST_F(ControlsTest, AFailedPaintGoesNoFurtherAndBackgroundsFollowTheirColour) {
    int failures = 0;
    Application->OnException = [&](TObject*, std::exception_ptr) { ++failures; };
    auto* form = NewForm<TPlainForm>();
    auto* painter = new TFailingPainter(form);
    painter->SetParent(form);
    painter->SetBounds(10, 10, 40, 30);
    form->Show();
    Paint(*form);
    EXPECT_EQ(failures, 1);

    // Painted again after the failure: colours changed back and forth, then the system's button face (whose brush
    // is the system's).
    painter->Fail = false;
    for (TColor color : {TColor{0x0000C0}, TColor{0xC00000}, TColor{0x0000C0}, clBtnFace}) {
        painter->SetColor(color);
        Paint(*form);
        const COLORREF rgb = ColorToRGB(color);
        const uint32_t expected = uint32_t{GetRValue(rgb)} << 16 | uint32_t{GetGValue(rgb)} << 8 | GetBValue(rgb);
        const Pixels pixels = Capture(*painter);
        EXPECT_EQ(std::count(pixels.begin(), pixels.end(), expected), static_cast<long>(pixels.size()))
            << std::hex << color;
    }
}

TEST_F(ControlsTest, ImageTakesItsPictureSizeAndPaintsItAsItIsOrStretched) {
    auto* form = NewForm<TPlainForm>();
    form->SetColor(0x00808080);
    auto* image = new TImage(form);
    image->SetParent(form);
    image->SetBounds(10, 20, 105, 105);
    image->SetAutoSize(true);
    EXPECT_EQ(image->Width(), 105); // an empty picture keeps the size
    Load(*image, FourColours());
    EXPECT_EQ(image->Width(), 4);
    EXPECT_EQ(image->Height(), 2);
    EXPECT_EQ(image->Left(), 10);
    form->Show();
    Paint(*form);
    EXPECT_EQ(Capture(*image), FourColoursPixels);

    // Stretched: each pixel becomes a 10 x 10 block. Smoothing blends the blocks into each other (Wine interpolates
    // between them), so each block is looked at in its top-left corner, with some slack.
    image->SetAutoSize(false);
    image->SetStretch(true);
    image->SetBounds(10, 20, 40, 20);
    Paint(*form);
    const Pixels stretched = Capture(*image);
    ASSERT_EQ(stretched.size(), 800u);
    const auto similar = [](uint32_t a, uint32_t b) {
        for (int shift : {0, 8, 16})
            if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 40)
                return false;
        return true;
    };
    for (size_t y = 0; y < 2; ++y)
        for (size_t x = 0; x < 4; ++x)
            EXPECT_PRED2(similar, stretched[10 * y * 40 + 10 * x], FourColoursPixels[y * 4 + x]) << x << y;

    // Bytes that are no bitmap: the picture is empty afterwards, and the control keeps its size.
    image->SetAutoSize(true);
    Bytes damaged = FourColours();
    damaged.resize(damaged.size() - 3);
    EXPECT_THROW(Load(*image, damaged), EInvalidGraphic);
    EXPECT_TRUE(image->Picture().Empty());
    EXPECT_EQ(image->Width(), 4);
    Paint(*form);
    const Pixels empty = Capture(*image);
    EXPECT_EQ(std::count(empty.begin(), empty.end(), 0x808080u), static_cast<long>(empty.size()));
}

// GDI's own decoder is the reference: what it draws from a file's header and bits must be what the reader gives.
TEST_F(ControlsTest, BitmapReaderAgreesWithGdi) {
    const Pixels palette = {0x000000, 0x800000, 0x00A000, 0x0000C0, 0xFFFF00, 0x00FFFF, 0xFF00FF, 0xFFFFFF};
    constexpr int32_t width = 7, height = 5;
    Pixels image;
    for (int32_t i = 0; i < width * height; ++i)
        image.push_back(palette[static_cast<size_t>((i * 5 + i / width) % 8)]);
    std::vector<TTestBitmap> bitmaps;
    for (int bits : {4, 8, 16, 24, 32})
        for (bool topDown : {false, true})
            bitmaps.push_back(MakeBitmap(image, width, height, bits, topDown, 0, palette));
    bitmaps.push_back(MakeBitmap(image, width, height, 16, false, 3));
    bitmaps.push_back(MakeBitmap(image, width, height, 32, true, 3));
    bitmaps.push_back(MakeBitmap(image, width, height, 8, false, 1, palette));
    bitmaps.push_back(MakeBitmap(image, width, height, 4, false, 2, palette));
    TTestBitmap records = MakeBitmap(Pixels(width * height, 0), width, height, 8, false, 1, palette);
    records.Bits = {0x00, 0x03, 1,    2,    3,    0x00, 0x09, 0x04, 0x00, 0x00, 0x00, 0x02, 0x02, 0x01,
                    0x03, 0x05, 0x00, 0x00, 0x00, 0x05, 1,    2,    3,    4,    5,    0x00, 0x00, 0x01};
    bitmaps.push_back(records);
    TTestBitmap shades = MakeBitmap(Pixels(4, 0), 4, 1, 16, false);
    shades.Bits = {0x10, 0x42, 0xEF, 0x3D, 0x21, 0x04, 0x55, 0x55}; // 5-bit values that are not 0 or 31
    bitmaps.push_back(shades);

    HDC dc = CreateCompatibleDC(nullptr);
    for (size_t n = 0; n < bitmaps.size(); ++n) {
        SCOPED_TRACE(n);
        const Bytes file = BuildBMP(bitmaps[n]);
        TBitmapPixels decoded;
        ASSERT_TRUE(ReadBitmapFile(file.data(), file.size(), decoded));

        BITMAPINFO target{};
        target.bmiHeader = {sizeof(BITMAPINFOHEADER), decoded.Width, -decoded.Height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        HBITMAP section = CreateDIBSection(dc, &target, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(dc, section);
        const auto* header = reinterpret_cast<const BITMAPINFO*>(file.data() + 14);
        const uint32_t offset = *reinterpret_cast<const uint32_t*>(file.data() + 10);
        const auto columns = static_cast<DWORD>(decoded.Width), rows = static_cast<DWORD>(decoded.Height);
        SetDIBitsToDevice(dc, 0, 0, columns, rows, 0, 0, 0, rows, file.data() + offset, header, DIB_RGB_COLORS);
        GdiFlush();
        Pixels drawn(static_cast<const uint32_t*>(bits),
                     static_cast<const uint32_t*>(bits) + decoded.Width * decoded.Height);
        for (uint32_t& pixel : drawn)
            pixel &= 0xFFFFFF;
        EXPECT_EQ(decoded.Pixels, drawn);
        SelectObject(dc, old);
        DeleteObject(section);
    }
    DeleteDC(dc);
}

// --- The dialog keys ---

class TDialogForm : public TForm {
public:
    explicit TDialogForm(TComponent* owner) : TForm(owner) {
        SetBorderStyle(TFormBorderStyle::bsDialog);
        SetBorderIcons(biSystemMenu);
        SetCaption(std::string("Dialog keys"));
        SetBounds(150, 150, 300, 200);
        Font().SetName(JapaneseFace);
        Font().SetHeight(12);
        Font().SetCharset(SHIFTJIS_CHARSET);
        Other = new TButton(this);
        Other->SetParent(this);
        Other->SetCaption(std::string("Other"));
        Other->SetBounds(120, 40, 100, 20);
        Other->SetModalResult(7);
        Close = new TButton(this);
        Close->SetParent(this);
        Close->SetCaption(std::wstring(CloseCaption));
        Close->SetBounds(8, 40, 100, 20);
        Close->SetDefault(true);
        Close->SetCancel(true);
        Close->SetModalResult(mrOk);
        Close->SetTabOrder(0); // created last, first in tab order
        SetClientSize(226, 68);
    }
    std::string ClassName() const override { return "TDialogForm"; }
    TButton* Close;
    TButton* Other;
};

// The middle of the close box, found as the window itself hit-tests its title bar.
POINT CloseBox(HWND window) {
    RECT frame;
    GetWindowRect(window, &frame);
    POINT client{0, 0};
    ClientToScreen(window, &client);
    const int y = (frame.top + client.y) / 2;
    int first = 0, last = 0;
    for (int x = frame.left; x < frame.right; ++x) {
        if (SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) != HTCLOSE) continue;
        if (!first) first = x;
        last = x;
    }
    EXPECT_NE(first, 0) << "no close box";
    return {(first + last) / 2, y};
}

TEST_F(ControlsTest, EnterEscAltAcceleratorTabAndTheCloseBoxEndTheModalLoop) {
    auto* dialog = NewForm<TDialogForm>();
    // The Japanese caption reaches the window unchanged, whatever the code page.
    wchar_t text[32] = {};
    GetWindowTextW(dialog->Close->Handle(), text, 32);
    EXPECT_EQ(std::wstring(text), CloseCaption);
    EXPECT_EQ(dialog->ClientWidth(), 226);
    EXPECT_EQ(dialog->ClientHeight(), 68);
    EXPECT_EQ(dialog->Close->TabOrder(), 0);

    enum class TInput { Enter, Escape, AltC, TabEnter, CloseBox };
    const struct {
        TInput Input;
        int Result;
    } rows[] = {{TInput::CloseBox, mrCancel},
                {TInput::Enter, mrOk},
                {TInput::Escape, mrOk},
                {TInput::AltC, mrOk},
                {TInput::TabEnter, 7}};
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.Input));
        HWND focusedAtStart = nullptr;
        bool sent = false;
        auto* timer = new TTimer(dialog);
        timer->SetInterval(20);
        timer->OnTimer = [&](TObject*) {
            // Input goes to the active window: wait until the dialog is it and has given the focus away.
            if (sent) return;
            if (GetForegroundWindow() != dialog->Handle()) {
                // Without a window manager, Wine may give the desktop the foreground when the previous round's hide
                // completes, after this round's show.
                SetForegroundWindow(dialog->Handle());
                return;
            }
            if (!GetFocus()) return;
            sent = true;
            focusedAtStart = GetFocus();
            if (row.Input == TInput::Enter) {
                SaveArtefact(*dialog, "dialog-keys.bmp");
                Keys({VK_RETURN});
            } else if (row.Input == TInput::Escape) {
                Keys({VK_ESCAPE});
            } else if (row.Input == TInput::AltC) {
                Keys({VK_MENU, 'C'});
            } else if (row.Input == TInput::TabEnter) {
                Keys({VK_TAB});
                Keys({VK_RETURN});
            } else {
                const POINT box = CloseBox(dialog->Handle());
                MoveTo(box);
                Button(true);
                Button(false);
            }
        };
        EXPECT_EQ(dialog->ShowModal(), row.Result);
        EXPECT_EQ(focusedAtStart, dialog->Close->Handle());
        timer->Free();
    }
}

} // namespace

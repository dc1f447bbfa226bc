#include "Graphics.h"

#include <cstring>
#include <vector>

#include "BitmapReader.h"
#include "Classes.h"

namespace {
// Room for the largest bitmap the reader accepts (32 bits a pixel) with its headers, or its run-length records.
constexpr int64_t MaxBitmapFileSize = MaxBitmapPixels * 4 + 64 * 1024;

BITMAPINFO TopDown32(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}
} // namespace

COLORREF ColorToRGB(TColor color) {
    return (color & 0x80000000) ? GetSysColor(static_cast<int>(color & 0xFF)) : static_cast<COLORREF>(color);
}

// --- TFont ---

void TFont::SetName(const std::wstring& name) {
    if (name == FName) return;
    FName = name;
    Changed(true);
}

void TFont::SetHeight(int pixels) {
    if (pixels == FHeight) return;
    FHeight = pixels;
    Changed(true);
}

void TFont::SetCharset(BYTE charset) {
    if (charset == FCharset) return;
    FCharset = charset;
    Changed(true);
}

void TFont::SetColor(TColor color) {
    if (color == FColor) return;
    FColor = color;
    Changed(false);
}

void TFont::SetStyle(unsigned style) {
    if (style == FStyle) return;
    FStyle = style;
    Changed(true);
}

void TFont::Assign(const TFont& source) {
    if (&source == this) return;
    FName = source.FName;
    FHeight = source.FHeight;
    FCharset = source.FCharset;
    FColor = source.FColor;
    FStyle = source.FStyle;
    Changed(true);
}

void TFont::Changed(bool shape) {
    // Whoever selected the old font has been told by now or is told below; the colour is not part of the object.
    if (shape) FHandle.reset();
    if (OnChange) OnChange(nullptr);
}

HFONT TFont::Handle() {
    if (!FHandle.get()) {
        LOGFONTW font{};
        font.lfHeight = -FHeight;
        font.lfWeight = (FStyle & fsBold) ? FW_BOLD : FW_NORMAL;
        font.lfItalic = (FStyle & fsItalic) ? TRUE : FALSE;
        font.lfUnderline = (FStyle & fsUnderline) ? TRUE : FALSE;
        font.lfStrikeOut = (FStyle & fsStrikeOut) ? TRUE : FALSE;
        font.lfCharSet = FCharset;
        font.lfOutPrecision = OUT_DEFAULT_PRECIS;
        font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
        font.lfQuality = DEFAULT_QUALITY;
        font.lfPitchAndFamily = DEFAULT_PITCH;
        wcsncpy(font.lfFaceName, FName.c_str(), LF_FACESIZE - 1);
        FHandle.reset(CreateFontIndirectW(&font));
    }
    return FHandle.get();
}

// --- TCanvas ---

void TCanvas::Draw(int x, int y, TBitmap& bitmap) {
    if (FHandle) BitBlt(FHandle, x, y, bitmap.Width(), bitmap.Height(), bitmap.Canvas().Handle(), 0, 0, SRCCOPY);
}

void TCanvas::StretchDraw(const RECT& rect, TBitmap& bitmap) {
    if (!FHandle || bitmap.Empty()) return;
    const int mode = SetStretchBltMode(FHandle, HALFTONE);
    POINT origin;
    SetBrushOrgEx(FHandle, 0, 0, &origin); // HALFTONE leaves the brush origin undefined
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (bitmap.FBits) {
        BITMAPINFO info = TopDown32(bitmap.Width(), bitmap.Height());
        StretchDIBits(FHandle, rect.left, rect.top, width, height, 0, 0, bitmap.Width(), bitmap.Height(), bitmap.FBits,
                      &info, DIB_RGB_COLORS, SRCCOPY);
    } else {
        StretchBlt(FHandle, rect.left, rect.top, width, height, bitmap.Canvas().Handle(), 0, 0, bitmap.Width(),
                   bitmap.Height(), SRCCOPY);
    }
    SetBrushOrgEx(FHandle, origin.x, origin.y, nullptr);
    SetStretchBltMode(FHandle, mode);
}

// --- TBitmap ---

TBitmap::TBitmap() : FDC(CreateCompatibleDC(nullptr)) {
    FCanvas.SetHandle(FDC.get());
}

TBitmap::~TBitmap() {
    // The bitmap leaves the context before either is deleted: a selected bitmap cannot be deleted.
    if (FOldBitmap) SelectObject(FDC.get(), FOldBitmap);
    FBitmap.reset();
}

void TBitmap::Select(HBITMAP bitmap, int width, int height) {
    HGDIOBJ previous = SelectObject(FDC.get(), bitmap);
    if (!FOldBitmap) FOldBitmap = previous;
    FBitmap.reset(bitmap);
    FWidth = width;
    FHeight = height;
}

void TBitmap::SetSize(int width, int height) {
    HBITMAP bitmap = CreateCompatibleBitmap(TWindowDC(nullptr).get(), width > 0 ? width : 1, height > 0 ? height : 1);
    if (!bitmap) return;
    Select(bitmap, width, height);
    FBits = nullptr;
}

void TBitmap::Clear() {
    if (Empty() && !FBitmap.get()) return;
    if (FOldBitmap) SelectObject(FDC.get(), FOldBitmap);
    FOldBitmap = nullptr;
    FBitmap.reset();
    FBits = nullptr;
    FWidth = FHeight = 0;
    if (OnChange) OnChange(nullptr);
}

void TBitmap::LoadFromStream(TStream& stream) {
    Clear();
    const int64_t size = stream.GetSize() - stream.Position();
    if (size <= 0 || size > MaxBitmapFileSize) throw EInvalidGraphic("Bitmap image is not valid");
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    try {
        stream.ReadBuffer(bytes.data(), static_cast<int32_t>(size));
    } catch (const EReadError&) {
        throw EInvalidGraphic("Bitmap image is not valid");
    }
    TBitmapPixels pixels;
    std::string why;
    if (!ReadBitmapFile(bytes.data(), bytes.size(), pixels, &why)) throw EInvalidGraphic("Bitmap image: " + why);
    bytes = {};

    BITMAPINFO info = TopDown32(pixels.Width, pixels.Height);
    void* bits = nullptr;
    TGdiObject<HBITMAP> section(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!section || !bits) throw EInvalidGraphic("Bitmap image is too large");
    // 0x00RRGGBB is the byte order B, G, R, 0 of a 32-bit DIB.
    std::memcpy(bits, pixels.Pixels.data(), pixels.Pixels.size() * sizeof(uint32_t));
    GdiFlush();
    Select(section.release(), pixels.Width, pixels.Height);
    FBits = bits;
    if (OnChange) OnChange(nullptr);
}

// --- TPicture ---

TPicture::TPicture() {
    FBitmap.OnChange = [this](TObject*) {
        if (OnChange) OnChange(nullptr);
    };
}

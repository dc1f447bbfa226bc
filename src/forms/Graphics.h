// Drawing: colours, fonts, a canvas over a device context, bitmaps (off-screen or read from a BMP file) and the
// picture that holds one.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "Components.h"
#include "Handles.h"
#include "SysUtils.h"

class TStream;

using TColor = uint32_t; // 0x00BBGGRR, or a system colour index with the top bit set
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clBtnFace = 0x80000000 | COLOR_BTNFACE; // system colours are resolved when painting
inline constexpr TColor clWindowText = 0x80000000 | COLOR_WINDOWTEXT;

COLORREF ColorToRGB(TColor color);

// A bitmap that is not a readable picture.
class EInvalidGraphic : public Exception {
    using Exception::Exception;
};

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

class TFont {
public:
    TFont() = default;
    TFont(const TFont&) = delete;
    TFont& operator=(const TFont&) = delete;

    // The face name in wide characters, so that a Japanese face name is found on any code page.
    const std::wstring& Name() const { return FName; }
    void SetName(const std::wstring& name);
    // Character height in pixels (the cell height less its internal leading).
    int Height() const { return FHeight; }
    void SetHeight(int pixels);
    BYTE Charset() const { return FCharset; }
    void SetCharset(BYTE charset);
    TColor Color() const { return FColor; }
    void SetColor(TColor color);
    unsigned Style() const { return FStyle; }
    void SetStyle(unsigned style);
    // Takes every attribute of source, with one change notification.
    void Assign(const TFont& source);

    // The font object for these attributes; made when first asked for after a change, owned by this font.
    HFONT Handle();

    TNotifyEvent OnChange;

private:
    void Changed(bool shape);

    std::wstring FName = L"Tahoma";
    int FHeight = 11;
    BYTE FCharset = DEFAULT_CHARSET;
    TColor FColor = clWindowText;
    unsigned FStyle = 0;
    TGdiObject<HFONT> FHandle;
};

class TBitmap;

class TCanvas {
public:
    TCanvas() = default;
    explicit TCanvas(HDC dc) : FHandle(dc) {}
    HDC Handle() const { return FHandle; }
    void SetHandle(HDC dc) { FHandle = dc; }
    // Copies the whole bitmap with its top-left corner at (x, y).
    void Draw(int x, int y, TBitmap& bitmap);
    // Scales the whole bitmap into rect, smoothing as it goes.
    void StretchDraw(const RECT& rect, TBitmap& bitmap);

private:
    HDC FHandle = nullptr;
};

class TBitmap {
public:
    TBitmap();
    ~TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    // A device-compatible bitmap of that size, content undefined.
    void SetSize(int width, int height);
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    bool Empty() const { return FWidth == 0 || FHeight == 0; }
    TCanvas& Canvas() { return FCanvas; }

    // Reads a BMP file from the stream's position to its end. Raises EInvalidGraphic when the bytes are not a
    // readable bitmap (damaged, truncated, unsupported or too large); the bitmap is then empty.
    void LoadFromStream(TStream& stream);
    // Makes the bitmap empty.
    void Clear();

    TNotifyEvent OnChange;

private:
    friend class TCanvas;
    void Select(HBITMAP bitmap, int width, int height);

    UniqueHDC FDC;
    TGdiObject<HBITMAP> FBitmap;
    HGDIOBJ FOldBitmap = nullptr;
    int FWidth = 0, FHeight = 0;
    // Set while the bitmap holds pixels read from a file: a 32-bit top-down section whose bits StretchDIBits takes.
    const void* FBits = nullptr;
    TCanvas FCanvas;
};

// The picture of a picture control: here always a bitmap.
class TPicture {
public:
    TPicture();
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    TBitmap& Bitmap() { return FBitmap; }
    bool Empty() const { return FBitmap.Empty(); }
    int Width() const { return FBitmap.Width(); }
    int Height() const { return FBitmap.Height(); }

    TNotifyEvent OnChange;

private:
    TBitmap FBitmap;
};

// Drawing surfaces: a canvas over a device context, and an off-screen bitmap with a canvas of its own.
#pragma once

#include <windows.h>

class TBitmap;

class TCanvas {
public:
    TCanvas() = default;
    explicit TCanvas(HDC dc) : FHandle(dc) {}
    HDC Handle() const { return FHandle; }
    void SetHandle(HDC dc) { FHandle = dc; }
    // Copies the whole bitmap with its top-left corner at (x, y).
    void Draw(int x, int y, TBitmap& bitmap);

private:
    HDC FHandle = nullptr;
};

class TBitmap {
public:
    TBitmap();
    ~TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    void SetSize(int width, int height);
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    TCanvas& Canvas() { return FCanvas; }

private:
    HDC FDC = nullptr;
    HBITMAP FBitmap = nullptr;
    HGDIOBJ FOldBitmap = nullptr;
    int FWidth = 0, FHeight = 0;
    TCanvas FCanvas;
};

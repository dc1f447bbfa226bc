#include "Graphics.h"

void TCanvas::Draw(int x, int y, TBitmap& bitmap) {
    if (FHandle) BitBlt(FHandle, x, y, bitmap.Width(), bitmap.Height(), bitmap.Canvas().Handle(), 0, 0, SRCCOPY);
}

TBitmap::TBitmap() {
    FDC = CreateCompatibleDC(nullptr);
    FCanvas.SetHandle(FDC);
}

TBitmap::~TBitmap() {
    if (FOldBitmap) SelectObject(FDC, FOldBitmap);
    if (FBitmap) DeleteObject(FBitmap);
    DeleteDC(FDC);
}

void TBitmap::SetSize(int width, int height) {
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width > 0 ? width : 1, height > 0 ? height : 1);
    ReleaseDC(nullptr, screen);
    if (!bitmap) return;
    HGDIOBJ previous = SelectObject(FDC, bitmap);
    if (!FOldBitmap) FOldBitmap = previous;
    if (FBitmap) DeleteObject(FBitmap);
    FBitmap = bitmap;
    FWidth = width;
    FHeight = height;
}

// The BMP reader over arbitrary bytes: it either refuses them or returns a whole image within the pixel cap.
#include <cstdio>
#include <cstdlib>

#include "forms/BitmapReader.h"

namespace {
[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "fuzz_bmp: %s\n", what);
    std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TBitmapPixels out;
    std::string why;
    if (!ReadBitmapFile(data, size, out, &why)) {
        if (why.empty()) Finding("refused without a reason");
        if (out.Width != 0 || !out.Pixels.empty()) Finding("refused but changed the output");
        return 0;
    }
    if (out.Width <= 0 || out.Height <= 0) Finding("an image without pixels");
    const int64_t count = int64_t{out.Width} * out.Height;
    if (count > MaxBitmapPixels) Finding("more pixels than the cap");
    if (static_cast<int64_t>(out.Pixels.size()) != count) Finding("pixel count differs from the size");
    for (uint32_t pixel : out.Pixels)
        if (pixel > 0xFFFFFF) Finding("a pixel with bits above its colour");
    return 0;
}

// The SWF header reader over arbitrary file contents: every outcome is a header or one of our exceptions.
#include <cstdio>
#include <cstdlib>

#include "FuzzFile.h"
#include "flash/uFlashUtils.h"

namespace {
[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "fuzz_swf: %s\n", what);
    std::abort();
}

// A 31-bit field holds at most 2^30 twips either way.
constexpr int32_t MaxPixels = (1 << 30) / 20;

bool InRange(int32_t value) {
    return value >= -MaxPixels && value <= MaxPixels;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = WriteFuzzFile("movie.swf", data, size);
    try {
        TSWF swf(path);
        if (size < 9) Finding("a header read from a file too short for it");
        if (swf.Compressed() != (data[0] == 'C')) Finding("compression flag differs from the signature");
        if (swf.Version() != data[3]) Finding("version differs from the header byte");
        const uint32_t length = static_cast<uint32_t>(data[4]) | static_cast<uint32_t>(data[5]) << 8 |
                                static_cast<uint32_t>(data[6]) << 16 | static_cast<uint32_t>(data[7]) << 24;
        if (swf.FileLength() != length) Finding("file length differs from the header field");
        const TSWFRect& r = swf.FrameRect();
        if (!InRange(r.Left) || !InRange(r.Top) || !InRange(r.Right) || !InRange(r.Bottom))
            Finding("a coordinate no 31-bit field can hold");
        if (swf.Width() != r.Right - r.Left || swf.Height() != r.Bottom - r.Top) Finding("size and frame disagree");
    } catch (const Exception&) {
    }
    return 0;
}

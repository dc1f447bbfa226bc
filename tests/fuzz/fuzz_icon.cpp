// The icon file reader over arbitrary bytes: it refuses them with a reason, or returns images that lie within the
// file and write back to an icon file it reads again as the same images.
#include <cstdio>
#include <cstdlib>

#include "store/uPEResources.h"

namespace {
[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "fuzz_icon: %s\n", what);
    std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string why;
    const auto images = ReadIconFile(data, size, why);
    if (!images) {
        if (why.empty()) Finding("refused without a reason");
        return 0;
    }
    if (images->empty()) Finding("an icon without images");
    size_t bytes = 0;
    for (const TIconImage& image : *images) {
        if (image.Bytes.empty() || image.BitCount == 0) Finding("an image without bytes or bits");
        bytes += image.Bytes.size();
    }
    if (bytes > size * images->size()) Finding("images larger than the file");
    const std::vector<uint8_t> again = BuildIconFile(*images);
    const auto reread = ReadIconFile(again.data(), again.size(), why);
    if (again.size() <= MaxIconFileSize && (!reread || *reread != *images)) Finding("written back, read otherwise");
    return 0;
}

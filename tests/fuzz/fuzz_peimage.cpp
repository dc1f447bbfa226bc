// The executable image reader over arbitrary file contents, a save and reload of what it read, and the image end
// read from the headers alone, which must agree with it on every file.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "FuzzFile.h"
#include "store/uPEUtils.h"

namespace {
[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "fuzz_peimage: %s\n", what);
    std::abort();
}

// Blocks are written back at the size their headers declare, so a few bytes may legitimately save as a sparse
// file of gigabytes, or as a section table of 65535 zero headers that now lie inside the file; loading reads
// whole files and builds every header the file holds, so reloading those would only measure the machine.
constexpr std::uintmax_t MaxReloadSize = 256 * 1024;

std::string HeaderOutcome(const uint8_t* data, size_t size) {
    TMemoryStream stream;
    stream.WriteBuffer(data, static_cast<int32_t>(size));
    try {
        return std::to_string(ReadImageEnd(stream));
    } catch (const EImageBlockException& e) {
        return e.Message();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = WriteFuzzFile("image.bin", data, size);
    const std::string saved = FuzzTempDir().File("saved.bin");
    const std::string fromHeaders = HeaderOutcome(data, size);
    std::unique_ptr<TPEImage> image;
    try {
        image = std::make_unique<TPEImage>(path);
    } catch (const EImageBlockException& e) {
        if (fromHeaders != e.Message()) Finding("the headers alone and the image reader fail differently");
        return 0;
    } catch (const Exception&) {
        return 0;
    }
    if (image->FileSize() != static_cast<int64_t>(size)) Finding("file size differs from the bytes loaded");
    const uint32_t imageEnd = image->GetImageEnd();
    if (fromHeaders != std::to_string(imageEnd)) Finding("the headers alone give another image end");
    if (image->SectionCount() == 0 && imageEnd != 0) Finding("image end without sections");
    if (image->Sections().size() > size / TSectionHeader::BlockSize + 1) Finding("section objects beyond the file");

    try {
        image->SaveToFile(saved);
    } catch (const Exception&) {
        return 0;
    }
    std::error_code error;
    const std::uintmax_t savedSize = std::filesystem::file_size(saved, error);
    if (error) Finding("saved image cannot be measured");
    if (static_cast<int64_t>(savedSize) != image->FileSize()) Finding("file size after save differs from the file");

    // Every block writes the bytes it read from the same original file (zeros past its end), so the headers come
    // back unchanged; only the section data may grow into the zeros, which the reader may refuse.
    if (savedSize <= MaxReloadSize) {
        try {
            TPEImage reloaded(saved);
            if (reloaded.SectionCount() != image->SectionCount()) Finding("section count changed on reload");
            if (reloaded.GetImageEnd() != imageEnd) Finding("image end changed on reload");
        } catch (const Exception&) {
        }
    }
    std::filesystem::remove(saved, error);
    return 0;
}

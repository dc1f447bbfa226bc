// The executable image reader over arbitrary file contents, and a save and reload of what it read.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "FuzzFile.h"
#include "store/uPEUtils.h"

namespace {
[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "fuzz_peimage: %s\n", what);
    std::abort();
}

// Blocks are written back at the size their headers declare, so a few bytes may legitimately save as a sparse
// file of gigabytes; loading reads whole files, so reloading those would only measure the machine.
constexpr std::uintmax_t MaxReloadSize = 16 * 1024 * 1024;
// A table past the end of the file reads as empty sections, up to 65535 of them; saving writes each with calls of
// its own, which would spend the run on system calls. Loading such tables is still fuzzed.
constexpr size_t MaxSavedSections = 1024;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = WriteFuzzFile("image.bin", data, size);
    const std::string saved = FuzzTempDir().File("saved.bin");
    std::unique_ptr<TPEImage> image;
    try {
        image = std::make_unique<TPEImage>(path);
    } catch (const Exception&) {
        return 0;
    }
    if (image->FileSize() != static_cast<int64_t>(size)) Finding("file size differs from the bytes loaded");
    const uint32_t imageEnd = image->GetImageEnd();
    if (image->Sections().empty() && imageEnd != 0) Finding("image end without sections");

    if (image->Sections().size() > MaxSavedSections) return 0;
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
            if (reloaded.Sections().size() != image->Sections().size()) Finding("section count changed on reload");
            if (reloaded.GetImageEnd() != imageEnd) Finding("image end changed on reload");
        } catch (const Exception&) {
        }
    }
    std::filesystem::remove(saved, error);
    return 0;
}

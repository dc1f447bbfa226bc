// The content store reader over arbitrary file contents: every outcome is an item list or one of our exceptions.
#include <cstdio>
#include <cstdlib>

#include "FuzzFile.h"
#include "store/uExeAdder.h"

namespace {
// Keeps the reads of the item data from being optimised away.
volatile unsigned Sink;

[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "fuzz_store: %s\n", what);
    std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = WriteFuzzFile("store.bin", data, size);
    TItemTypes items;
    try {
        ReadExeItems(path, items);
    } catch (const Exception&) {
        // Damage is reported by exception; what was read so far must still be released cleanly.
    }
    // Touch every byte each item claims, so that a Size larger than its block shows up under AddressSanitizer.
    unsigned sum = 0;
    for (const TItemType& item : items) {
        if (item.Size < 0) Finding("negative item size");
        if ((item.Size == 0) != (item.Data == nullptr)) Finding("item data and size disagree");
        for (int32_t i = 0; i < item.Size; ++i)
            sum += item.Data[i];
    }
    FreeExeItems(items);
    if (!items.empty()) Finding("FreeExeItems left items behind");
    Sink = sum;
    return 0;
}

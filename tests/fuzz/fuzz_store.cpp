// The content store reader over arbitrary file contents: every outcome is an item list or one of our exceptions,
// and every item reads the same whole, streamed in pieces, and through the buffer inflater.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "FuzzFile.h"
#include "store/ZLibEx.h"
#include "store/uExeAdder.h"

namespace {
// Keeps the reads of the item data from being optimised away.
volatile unsigned Sink;

[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "fuzz_store: %s\n", what);
    std::abort();
}

// The bytes or the error of one way of reading an item.
struct TOutcome {
    std::string Bytes;
    std::optional<std::string> Error;
    bool operator==(const TOutcome&) const = default;
};

template <typename F> TOutcome Outcome(F read) {
    TOutcome outcome;
    try {
        read(outcome.Bytes);
    } catch (const Exception& e) {
        outcome.Bytes.clear();
        outcome.Error = e.Message();
    }
    return outcome;
}

// Each record three ways: the reader's block, its stream copy, and the buffer inflater over the raw payload as
// the reader used to inflate it.
void CompareReadings(const uint8_t* data, size_t size) {
    TMemoryStream file;
    file.WriteBuffer(data, static_cast<int32_t>(size));
    std::optional<TStoreReader> reader;
    try {
        reader.emplace(file);
    } catch (const Exception&) {
        return;
    }
    TStoreRecord record;
    for (;;) {
        try {
            if (!reader->Next(record)) return;
        } catch (const Exception&) {
            return;
        }
        const TOutcome whole = Outcome([&](std::string& out) {
            TItemType item;
            reader->ReadData(record, item);
            out.assign(reinterpret_cast<const char*>(item.Data), static_cast<size_t>(item.Size));
            std::free(item.Data);
        });
        const TOutcome streamed = Outcome([&](std::string& out) {
            TMemoryStream copy;
            if (reader->CopyData(record, copy) != copy.Length()) Finding("CopyData miscounted");
            out.assign(reinterpret_cast<const char*>(copy.Memory()), static_cast<size_t>(copy.Length()));
        });
        if (whole != streamed) Finding("an item read whole and streamed differ");
        if (!record.Compressed || record.StoredSize <= 0) continue;
        const TOutcome buffered = Outcome([&](std::string& out) {
            void* inflated = nullptr;
            int32_t inflatedSize = 0;
            InflateBuffer(data + record.PayloadOffset, record.StoredSize, inflated, inflatedSize);
            out.assign(static_cast<const char*>(inflated), static_cast<size_t>(inflatedSize));
            std::free(inflated);
        });
        if (whole != buffered) Finding("an item read from the file and inflated from a buffer differ");
    }
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
    CompareReadings(data, size);
    return 0;
}

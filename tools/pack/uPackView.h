// The reading side of the authoring tool: where a file's content store sits, its items, and their text forms.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "store/uExeAdder.h"
#include "uImageArch.h"

struct TStoreReport {
    int64_t FileSize = 0;
    std::optional<int64_t> ImageEnd; // empty when the file is not an executable image
    std::optional<TImageArch> Arch;  // empty when the file is not an executable image
    TStorePath Path = TStorePath::None;
    int64_t Tail = 0;
    TItemTypes Items;
};

// Locates the store and reads every item, as the program does at start-up: names, flags and sizes of all, the data
// of those up to 16 MiB (a larger one has no Data and is inflated again by WriteItemFile). Raises EPackError naming
// the file
// when it does not exist or cannot be opened, and for everything the reader raises ("Bad Signature" on the
// fallback path, "data error", "buffer error", a damaged store). A file without a store is no error.
void ReadStoreReport(const std::string& fileName, TStoreReport& report);

// A JSON string literal of the bytes, each byte the character of its number (U+0000 to U+00FF); everything outside
// ASCII escaped as \u00xx, so that the text is ASCII.
std::string JsonString(const std::string& bytes);

// One "key: value" line each, or one JSON object on one line; both end with a newline.
std::string InfoText(const TStoreReport& report);
std::string InfoJson(const TStoreReport& report);

// A table, or a JSON array of objects in store order (names as in JsonString); both end with a newline.
std::string ListText(const TItemTypes& items);
std::string ListJson(const TItemTypes& items);

// Creates or replaces the file with the bytes. Raises EPackError naming it when it cannot.
void WritePackFile(const std::string& fileName, const void* data, size_t size);

// Writes the data of item, one of the items ReadStoreReport read from source, to the file: from memory, or
// inflated again from source, in pieces, when it was too large to hold. Raises EPackError naming the file that
// cannot be created or written, or source when it cannot be read again as it was.
void WriteItemFile(const std::string& source, const TItemTypes& items, const TItemType& item,
                   const std::string& fileName);

// Writes each item's data to DIR/NNNN.bin and ListJson to DIR/items.json, creating DIR when missing. Raises
// EPackError naming the directory or file that cannot be created or written.
void ExtractItems(const std::string& source, const TItemTypes& items, const std::string& dir);

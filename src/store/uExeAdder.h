// The content store appended behind the executable image: its reader, its writer and the stream primitives
// it is read in.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "../forms/FileStream.h"
#include "ZLibEx.h"

// One content item in memory. Data is a malloc block owned by the TItemTypes it sits in; null when Size is 0.
struct TItemType {
    std::string Name;
    uint8_t* Data = nullptr;
    int32_t Size = 0;
    bool Compressed = false;
    int32_t StoredSize = 0; // payload bytes the record carried, for inspection
};

// The items in store order. Owns every Data block; FreeExeItems (or destruction) releases them.
class TItemTypes {
public:
    TItemTypes() = default;
    ~TItemTypes();
    TItemTypes(const TItemTypes&) = delete;
    TItemTypes& operator=(const TItemTypes&) = delete;

    size_t size() const { return FItems.size(); }
    bool empty() const { return FItems.empty(); }
    TItemType& operator[](size_t index) { return FItems[index]; }
    const TItemType& operator[](size_t index) const { return FItems[index]; }
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }
    // Growing adds empty items; shrinking is only done through FreeExeItems, which frees the data first.
    void SetLength(size_t length) { FItems.resize(length); }

private:
    std::vector<TItemType> FItems;
};

// A read-only file stream that denies nothing to other openers, readers and writers alike.
class TFileReadStream : public TFileStream {
public:
    explicit TFileReadStream(const std::string& fileName) : TFileStream(fileName, TFileMode::fmOpenReadDenyNone) {}
};

// The primitives do not report a short read: bytes past the end of the stream read as zero.
uint8_t StreamReadByte(TStream& stream);
int32_t StreamReadInt32(TStream& stream);
int64_t StreamReadInt64(TStream& stream);
// An Int32 length, then that many bytes; a length of 0 or less gives the empty string. Raises EReadError when
// the length exceeds the bytes that remain, rather than allocating it.
std::string StreamReadString(TStream& stream);

inline constexpr char StoreMagic[4] = {'P', 'L', 'W', 'S'};

enum class TStorePath { None, Primary, Fallback };

// Where a store sits in a file, as the reader finds it.
struct TStoreLocation {
    TStorePath Path = TStorePath::None;
    int64_t FileSize = 0;
    int64_t Tail = 0;       // bytes behind the magic
    int64_t BodyOffset = 0; // file offset of NameKey
    int64_t ImageEnd = -1;  // known only when the fallback path consulted the image headers
};

// Finds the store in an open file; Path is None when there is none or its trailer points outside the file. The
// fallback path reads the image end from the image's headers alone. Raises EImageBlockException when it meets
// invalid image headers.
TStoreLocation LocateStore(TStream& stream);

// One record of a store as it stands in the file; its payload is read only when asked for.
struct TStoreRecord {
    std::string Name; // unscrambled
    bool Compressed = false;
    int32_t StoredSize = 0; // payload bytes; the item has no data when this is 0 or less
    int64_t PayloadOffset = 0;
};

// Reads a store record by record from a seekable stream that stays the caller's: names and flags as it goes,
// a payload only when asked for, whole or in pieces, in any order while the stream lives.
class TStoreReader {
public:
    // Locates the store; Count() is 0 when there is none. Raises as LocateStore, and EReadError for an item count
    // the store cannot hold.
    explicit TStoreReader(TStream& stream);
    TStoreReader(const TStoreReader&) = delete;
    TStoreReader& operator=(const TStoreReader&) = delete;

    int32_t Count() const { return FCount; }
    const TStoreLocation& Location() const { return FLocation; }
    // The next record in store order, its payload skipped; false after the last. Raises EReadError for a record
    // that runs past the data.
    bool Next(TStoreRecord& record);
    // The record's data (inflated when compressed) into item.Data and item.Size as one malloc block, null when
    // empty; item.Data must be empty. Raises EZDecompressionError for damaged data ("insufficient memory" when it
    // would inflate beyond maxInflated bytes) with nothing allocated, EOutOfMemory when the block cannot be had.
    void ReadData(const TStoreRecord& record, TItemType& item, int32_t maxInflated = MaxInflatedSize);
    // Writes the record's data (inflated when compressed) to out in pieces; returns the byte count. Raises as
    // ReadData (no size limit applies) and whatever out raises.
    int64_t CopyData(const TStoreRecord& record, TStream& out);

private:
    TStream& FStream;
    TStoreLocation FLocation;
    uint8_t FKey = 0;
    int32_t FCount = 0;
    int32_t FRead = 0;
    int64_t FNext = 0; // where the next record starts
};

// Fills items (first emptied) with the store's items in store order; empty when the file carries no store or
// cannot be opened. On a damaged item the array keeps its full length with the items read so far, and the
// exception (EZDecompressionError, EReadError, EImageBlockException, EOutOfMemory) reaches the caller; an item
// that inflates beyond maxInflated is damaged in this sense ("insufficient memory").
void ReadExeItems(const std::string& fileName, TItemTypes& items, int32_t maxInflated = MaxInflatedSize);
// Fills items (empty) with the reader's items in store order: name, flags and stored size, then readData for the
// data (which may leave it empty). Raises whatever reading or readData raises, with the items read so far.
void ReadItems(TStoreReader& reader, TItemTypes& items,
               const std::function<void(const TStoreRecord& record, TItemType& item)>& readData);
// Frees every item's data and empties the array.
void FreeExeItems(TItemTypes& items);

// A store the format cannot describe or its reader could not read back: an item or a whole file beyond the
// format's 32-bit sizes, an item larger than its reader inflates. It is the item's fault, not the output's.
class EStoreLimitError : public EWriteError {
    using EWriteError::EWriteError;
};

// One item to be written by the store writer.
struct TStoreItem {
    std::string Name;
    std::vector<uint8_t> Data;
    bool Compress = true;
};

// zlib's default level, written out: the same items must always give the same bytes.
inline constexpr int StoreCompressionLevel = 6;

// Writes a content store at a seekable stream's position, one item at a time: a payload can come from a stream
// and is deflated as it is read, so that no item need be held whole. Raises EWriteError when the stream cannot
// take the bytes, and EStoreLimitError for a store the reader could not read back: a compressed item larger than
// its reader inflates (maxInflated: MaxInflatedSize for an item read whole, INT64_MAX for one the screensaver
// streams to a file), a whole file (image and store) beyond 2 GiB, raised by the item that crosses it.
class TStoreWriter {
public:
    // Writes the header (TotalSize and ItemCount are filled in by Finish) behind an image of imageSize bytes.
    TStoreWriter(TStream& out, int32_t nameKey, int64_t imageSize);
    TStoreWriter(const TStoreWriter&) = delete;
    TStoreWriter& operator=(const TStoreWriter&) = delete;

    void AddItem(const std::string& name, const void* data, size_t size, bool compress);
    // The payload is everything from source's position to its end.
    void AddItem(const std::string& name, TStream& source, bool compress, int64_t maxInflated = MaxInflatedSize);
    // Writes BodyLength and the magic, fills in the header; returns the store's size in bytes.
    int64_t Finish();

private:
    void Record(const std::string& name, bool compress, int64_t maxInflated,
                const std::function<int32_t(uint8_t*, int32_t)>& read);
    void PutInt32At(int64_t position, int32_t value);

    TStream& FOut;
    int64_t FImageSize;
    int64_t FStart;
    uint8_t FKey;
    int32_t FCount = 0;
    std::vector<uint8_t> FIn, FPacked;
};

// Builds the store bytes to be appended behind an image of imageSize bytes with TStoreWriter: TotalSize,
// TrailerFlag 1, NameKey, the records (names scrambled with its low byte, payloads raw or zlib-compressed),
// BodyLength and the magic.
std::vector<uint8_t> BuildStore(const std::vector<TStoreItem>& items, int32_t nameKey, int64_t imageSize);

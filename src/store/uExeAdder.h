// The content store appended behind the executable image: its reader, its writer and the stream primitives
// it is read in.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "../forms/FileStream.h"

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

// Finds the store in an open file; Path is None when there is none or its trailer points outside the file.
// Raises EImageBlockException "Bad Signature" when the fallback path meets invalid image headers.
TStoreLocation LocateStore(TStream& stream, const std::string& fileName);

// Fills items (first emptied) with the store's items in store order; empty when the file carries no store or
// cannot be opened. On a damaged item the array keeps its full length with the items read so far, and the
// exception (EZDecompressionError, EReadError, EImageBlockException, EOutOfMemory) reaches the caller.
void ReadExeItems(const std::string& fileName, TItemTypes& items);
// Frees every item's data and empties the array.
void FreeExeItems(TItemTypes& items);

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
// take the bytes, and for a store the reader could not read back: a compressed item larger than MaxInflatedSize,
// a payload or a whole file (image and store) beyond 32 bits.
class TStoreWriter {
public:
    // Writes the header (TotalSize and ItemCount are filled in by Finish) behind an image of imageSize bytes.
    TStoreWriter(TStream& out, int32_t nameKey, int64_t imageSize);
    TStoreWriter(const TStoreWriter&) = delete;
    TStoreWriter& operator=(const TStoreWriter&) = delete;

    void AddItem(const std::string& name, const void* data, size_t size, bool compress);
    // The payload is everything from source's position to its end.
    void AddItem(const std::string& name, TStream& source, bool compress);
    // Writes BodyLength and the magic, fills in the header; returns the store's size in bytes.
    int64_t Finish();

private:
    void Record(const std::string& name, bool compress, const std::function<int32_t(uint8_t*, int32_t)>& read);
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

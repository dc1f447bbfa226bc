#include "uExeAdder.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include <zlib.h>

#include "ZLibEx.h"
#include "uPEUtils.h"

namespace {

// Reads count bytes at position (the current one when negative); what lies outside the stream reads as zero.
void ReadZeroFilled(TStream& stream, void* buffer, int32_t count) {
    std::memset(buffer, 0, static_cast<size_t>(count));
    stream.Read(buffer, count);
}

bool MagicAt(TStream& stream, int64_t position) {
    char bytes[4] = {};
    if (position >= 0) {
        stream.SetPosition(position);
        ReadZeroFilled(stream, bytes, 4);
    }
    return std::memcmp(bytes, StoreMagic, 4) == 0;
}

int64_t Remaining(TStream& stream, int64_t fileSize) { return std::max<int64_t>(0, fileSize - stream.Position()); }

// A malloc block for one item; EOutOfMemory when it cannot be had.
uint8_t* AllocateItem(int32_t size) {
    void* block = std::malloc(static_cast<size_t>(size));
    if (!block) throw EOutOfMemory();
    return static_cast<uint8_t*>(block);
}

void PutInt32(std::vector<uint8_t>& out, int32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i)));
}

void PutInt64(std::vector<uint8_t>& out, int64_t value) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i)));
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> out(size);
    if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        throw EZLibError("insufficient memory");
    out.resize(size);
    return out;
}

} // namespace

TItemTypes::~TItemTypes() { FreeExeItems(*this); }

uint8_t StreamReadByte(TStream& stream) {
    uint8_t value;
    ReadZeroFilled(stream, &value, 1);
    return value;
}

int32_t StreamReadInt32(TStream& stream) {
    uint8_t b[4];
    ReadZeroFilled(stream, b, 4);
    return static_cast<int32_t>(uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24);
}

int64_t StreamReadInt64(TStream& stream) {
    uint8_t b[8];
    ReadZeroFilled(stream, b, 8);
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | b[i];
    return static_cast<int64_t>(value);
}

std::string StreamReadString(TStream& stream) {
    int32_t length = StreamReadInt32(stream);
    if (length <= 0) return {};
    if (length > Remaining(stream, stream.GetSize())) throw EReadError("String length exceeds the data");
    std::string text(static_cast<size_t>(length), '\0');
    ReadZeroFilled(stream, text.data(), length);
    return text;
}

TStoreLocation LocateStore(TStream& stream, const std::string& fileName) {
    TStoreLocation location;
    const int64_t end = stream.GetSize();
    location.FileSize = end;

    bool found = MagicAt(stream, end - 4);
    int64_t tail = 0;
    if (!found) {
        int64_t imageEnd;
        int64_t fileSize;
        {
            TPEImage image(fileName);
            imageEnd = image.GetImageEnd();
            fileSize = image.FileSize();
        }
        location.ImageEnd = imageEnd;
        stream.SetPosition(imageEnd);
        int32_t totalSize = StreamReadInt32(stream);
        uint8_t trailerFlag = StreamReadByte(stream);
        tail = fileSize - totalSize;
        // The magic, BodyLength, NameKey and ItemCount must fit in front of the tail.
        if (trailerFlag == 0 || tail < 0 || tail > end - 20) return location;
        found = MagicAt(stream, end - 4 - tail);
        if (!found) return location;
    }

    stream.SetPosition(end - 12 - tail);
    int64_t bodyLength = StreamReadInt64(stream);
    int64_t bodyEnd = end - 12 - tail;
    if (bodyLength < 8 || bodyLength > bodyEnd) return location;

    location.Path = tail == 0 && location.ImageEnd < 0 ? TStorePath::Primary : TStorePath::Fallback;
    location.Tail = tail;
    location.BodyOffset = bodyEnd - bodyLength;
    return location;
}

void ReadExeItems(const std::string& fileName, TItemTypes& items) {
    FreeExeItems(items);
    std::unique_ptr<TFileReadStream> stream;
    try {
        stream = std::make_unique<TFileReadStream>(fileName);
    } catch (const EFOpenError&) {
        return;
    }

    TStoreLocation location = LocateStore(*stream, fileName);
    if (location.Path == TStorePath::None) return;

    stream->SetPosition(location.BodyOffset);
    const uint8_t key = static_cast<uint8_t>(StreamReadInt32(*stream));
    const int32_t itemCount = StreamReadInt32(*stream);
    if (itemCount <= 0) return;
    // Every record takes at least its name length, flag and size: a count the records cannot hold is damage,
    // and must not size the array.
    const int64_t recordsEnd = location.FileSize - 12 - location.Tail;
    if (itemCount > (recordsEnd - stream->Position()) / 9)
        throw EReadError("Damaged content store: " + std::to_string(itemCount) + " items cannot fit in the store");
    items.SetLength(static_cast<size_t>(itemCount));

    for (int32_t i = 0; i < itemCount; ++i) {
        TItemType& item = items[static_cast<size_t>(i)];
        item.Name = StreamReadString(*stream);
        for (char& c : item.Name) c = static_cast<char>(static_cast<uint8_t>(c) ^ key);
        item.Compressed = StreamReadByte(*stream) != 0;
        const int32_t storedSize = StreamReadInt32(*stream);
        item.StoredSize = storedSize;
        if (storedSize <= 0) continue;
        if (storedSize > Remaining(*stream, location.FileSize))
            throw EReadError("Damaged content store: item " + std::to_string(i) + " is larger than the data left");

        uint8_t* payload = AllocateItem(storedSize);
        ReadZeroFilled(*stream, payload, storedSize);
        if (!item.Compressed) {
            item.Data = payload;
            item.Size = storedSize;
            continue;
        }
        try {
            void* inflated = nullptr;
            int32_t size = 0;
            InflateBuffer(payload, storedSize, inflated, size, 0);
            item.Data = static_cast<uint8_t*>(inflated);
            item.Size = size;
        } catch (...) {
            std::free(payload);
            throw;
        }
        std::free(payload);
    }
}

void FreeExeItems(TItemTypes& items) {
    for (size_t i = 0; i < items.size(); ++i) {
        std::free(items[i].Data);
        items[i].Data = nullptr;
        items[i].Size = 0;
    }
    items.SetLength(0);
}

std::vector<uint8_t> BuildStore(const std::vector<TStoreItem>& items, int32_t nameKey, int64_t imageSize) {
    const uint8_t key = static_cast<uint8_t>(nameKey);
    std::vector<uint8_t> body;
    PutInt32(body, nameKey);
    PutInt32(body, static_cast<int32_t>(items.size()));
    for (const TStoreItem& item : items) {
        PutInt32(body, static_cast<int32_t>(item.Name.size()));
        for (char c : item.Name) body.push_back(static_cast<uint8_t>(c) ^ key);
        body.push_back(item.Compress ? 1 : 0);
        const std::vector<uint8_t> payload = item.Compress ? Deflate(item.Data) : item.Data;
        PutInt32(body, static_cast<int32_t>(payload.size()));
        body.insert(body.end(), payload.begin(), payload.end());
    }

    std::vector<uint8_t> store;
    const int64_t storeSize = 4 + 1 + static_cast<int64_t>(body.size()) + 8 + 4;
    PutInt32(store, static_cast<int32_t>(imageSize + storeSize));
    store.push_back(1);
    store.insert(store.end(), body.begin(), body.end());
    PutInt64(store, static_cast<int64_t>(body.size()));
    store.insert(store.end(), StoreMagic, StoreMagic + 4);
    return store;
}

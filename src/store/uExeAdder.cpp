#include "uExeAdder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <zlib.h>

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

int64_t Remaining(TStream& stream, int64_t fileSize) {
    return std::max<int64_t>(0, fileSize - stream.Position());
}

// A malloc block for one item; EOutOfMemory when it cannot be had.
uint8_t* AllocateItem(int32_t size) {
    void* block = std::malloc(static_cast<size_t>(size));
    if (!block) throw EOutOfMemory();
    return static_cast<uint8_t*>(block);
}

void PutInt32(TStream& out, int32_t value) {
    uint8_t b[4];
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
    out.WriteBuffer(b, 4);
}

void PutInt64(TStream& out, int64_t value) {
    uint8_t b[8];
    for (int i = 0; i < 8; ++i)
        b[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
    out.WriteBuffer(b, 8);
}

constexpr int32_t WriterChunk = 64 * 1024;
// BodyLength (an Int64) and the magic, behind the last record.
constexpr int64_t StoreTrailerSize = 8 + 4;

// Owns one deflate state.
class TDeflater {
public:
    TDeflater() {
        if (deflateInit(&FZ, StoreCompressionLevel) != Z_OK) throw EZLibError("insufficient memory");
    }
    ~TDeflater() { deflateEnd(&FZ); }
    TDeflater(const TDeflater&) = delete;
    TDeflater& operator=(const TDeflater&) = delete;
    z_stream& Z() { return FZ; }

private:
    z_stream FZ{};
};

} // namespace

TItemTypes::~TItemTypes() {
    FreeExeItems(*this);
}

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
    for (int i = 7; i >= 0; --i)
        value = value << 8 | b[i];
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

TStoreLocation LocateStore(TStream& stream) {
    TStoreLocation location;
    const int64_t end = stream.GetSize();
    location.FileSize = end;

    bool found = MagicAt(stream, end - 4);
    int64_t tail = 0;
    if (!found) {
        const int64_t imageEnd = ReadImageEnd(stream);
        location.ImageEnd = imageEnd;
        stream.SetPosition(imageEnd);
        int32_t totalSize = StreamReadInt32(stream);
        uint8_t trailerFlag = StreamReadByte(stream);
        tail = end - totalSize;
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

TStoreReader::TStoreReader(TStream& stream) : FStream(stream), FLocation(LocateStore(stream)) {
    if (FLocation.Path == TStorePath::None) return;
    FStream.SetPosition(FLocation.BodyOffset);
    FKey = static_cast<uint8_t>(StreamReadInt32(FStream));
    const int32_t itemCount = StreamReadInt32(FStream);
    FNext = FStream.Position();
    if (itemCount <= 0) return;
    // Every record takes at least its name length, flag and size: a count the records cannot hold is damage, and
    // must not size anything.
    const int64_t recordsEnd = FLocation.FileSize - 12 - FLocation.Tail;
    if (itemCount > (recordsEnd - FNext) / 9)
        throw EReadError("Damaged content store: " + std::to_string(itemCount) + " items cannot fit in the store");
    FCount = itemCount;
}

bool TStoreReader::Next(TStoreRecord& record) {
    if (FRead >= FCount) return false;
    FStream.SetPosition(FNext);
    record.Name = StreamReadString(FStream);
    for (char& c : record.Name)
        c = static_cast<char>(static_cast<uint8_t>(c) ^ FKey);
    record.Compressed = StreamReadByte(FStream) != 0;
    record.StoredSize = StreamReadInt32(FStream);
    record.PayloadOffset = FStream.Position();
    if (record.StoredSize > Remaining(FStream, FLocation.FileSize))
        throw EReadError("Damaged content store: item " + std::to_string(FRead) + " is larger than the data left");
    FNext = record.PayloadOffset + std::max(record.StoredSize, 0);
    ++FRead;
    return true;
}

void TStoreReader::ReadData(const TStoreRecord& record, TItemType& item, int32_t maxInflated) {
    item.Data = nullptr;
    item.Size = 0;
    if (record.StoredSize <= 0) return;
    FStream.SetPosition(record.PayloadOffset);
    if (record.Compressed) {
        void* inflated = nullptr;
        InflateStreamToBuffer(FStream, record.StoredSize, inflated, item.Size, maxInflated);
        item.Data = static_cast<uint8_t*>(inflated);
        return;
    }
    item.Data = AllocateItem(record.StoredSize);
    item.Size = record.StoredSize;
    ReadZeroFilled(FStream, item.Data, record.StoredSize);
}

int64_t TStoreReader::CopyData(const TStoreRecord& record, TStream& out) {
    if (record.StoredSize <= 0) return 0;
    FStream.SetPosition(record.PayloadOffset);
    if (record.Compressed) return InflateStreamToStream(FStream, record.StoredSize, out);
    return out.CopyFrom(FStream, record.StoredSize);
}

void ReadExeItems(const std::string& fileName, TItemTypes& items, int32_t maxInflated) {
    FreeExeItems(items);
    std::unique_ptr<TFileReadStream> stream;
    try {
        stream = std::make_unique<TFileReadStream>(fileName);
    } catch (const EFOpenError&) {
        return;
    }
    TStoreReader reader(*stream);
    ReadItems(reader, items,
              [&](const TStoreRecord& record, TItemType& item) { reader.ReadData(record, item, maxInflated); });
}

void ReadItems(TStoreReader& reader, TItemTypes& items,
               const std::function<void(const TStoreRecord& record, TItemType& item)>& readData) {
    items.SetLength(static_cast<size_t>(reader.Count()));
    TStoreRecord record;
    for (size_t i = 0; reader.Next(record); ++i) {
        TItemType& item = items[i];
        item.Name = record.Name;
        item.Compressed = record.Compressed;
        item.StoredSize = record.StoredSize;
        readData(record, item);
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

TStoreWriter::TStoreWriter(TStream& out, int32_t nameKey, int64_t imageSize)
    : FOut(out), FImageSize(imageSize), FStart(out.Position()), FKey(static_cast<uint8_t>(nameKey)), FIn(WriterChunk),
      FPacked(WriterChunk) {
    PutInt32(FOut, 0);
    const uint8_t trailerFlag = 1;
    FOut.WriteBuffer(&trailerFlag, 1);
    PutInt32(FOut, nameKey);
    PutInt32(FOut, 0);
}

void TStoreWriter::AddItem(const std::string& name, const void* data, size_t size, bool compress) {
    size_t done = 0;
    Record(name, compress, MaxInflatedSize, [&](uint8_t* buffer, int32_t count) {
        const size_t n = std::min(size - done, static_cast<size_t>(count));
        if (n > 0) std::memcpy(buffer, static_cast<const uint8_t*>(data) + done, n);
        done += n;
        return static_cast<int32_t>(n);
    });
}

void TStoreWriter::AddItem(const std::string& name, TStream& source, bool compress, int64_t maxInflated) {
    Record(name, compress, maxInflated, [&](uint8_t* buffer, int32_t count) { return source.Read(buffer, count); });
}

void TStoreWriter::Record(const std::string& name, bool compress, int64_t maxInflated,
                          const std::function<int32_t(uint8_t*, int32_t)>& read) {
    if (name.size() > static_cast<size_t>(INT32_MAX)) throw EStoreLimitError("Item name too long");
    PutInt32(FOut, static_cast<int32_t>(name.size()));
    std::string scrambled = name;
    for (char& c : scrambled)
        c = static_cast<char>(static_cast<uint8_t>(c) ^ FKey);
    FOut.WriteBuffer(scrambled.data(), static_cast<int32_t>(scrambled.size()));
    const uint8_t flag = compress ? 1 : 0;
    FOut.WriteBuffer(&flag, 1);
    const int64_t sizeField = FOut.Position();
    PutInt32(FOut, 0);

    int64_t taken = 0;
    int64_t stored = 0;
    // TotalSize is an Int32 (see Finish): the item that would carry the file past it is refused as it crosses,
    // rather than the whole store once it has been written.
    const int64_t payloadAt = FImageSize + (FOut.Position() - FStart);
    const auto put = [&](const uint8_t* bytes, int32_t count) {
        stored += count;
        if (payloadAt + stored > INT32_MAX - StoreTrailerSize)
            throw EStoreLimitError("Item \"" + name + "\" would make the screensaver larger than 2 GiB");
        FOut.WriteBuffer(bytes, count);
    };
    if (!compress) {
        for (int32_t n; (n = read(FIn.data(), WriterChunk)) > 0;)
            put(FIn.data(), n);
    } else {
        TDeflater deflater;
        z_stream& z = deflater.Z();
        int flush = Z_NO_FLUSH;
        do {
            const int32_t n = read(FIn.data(), WriterChunk);
            taken += n;
            // Its reader refuses to inflate more than this; such an item could never be read back.
            if (taken > maxInflated)
                throw EStoreLimitError("Item \"" + name + "\" is larger than the screensaver can inflate");
            flush = n > 0 ? Z_NO_FLUSH : Z_FINISH;
            z.next_in = FIn.data();
            z.avail_in = static_cast<uInt>(n);
            do {
                z.next_out = FPacked.data();
                z.avail_out = WriterChunk;
                if (deflate(&z, flush) == Z_STREAM_ERROR) throw EZLibError("stream error");
                put(FPacked.data(), WriterChunk - static_cast<int32_t>(z.avail_out));
            } while (z.avail_out == 0);
        } while (flush != Z_FINISH);
    }
    const int64_t end = FOut.Position();
    PutInt32At(sizeField, static_cast<int32_t>(stored));
    FOut.SetPosition(end);
    ++FCount;
}

void TStoreWriter::PutInt32At(int64_t position, int32_t value) {
    FOut.SetPosition(position);
    PutInt32(FOut, value);
}

int64_t TStoreWriter::Finish() {
    const int64_t bodyEnd = FOut.Position();
    PutInt64(FOut, bodyEnd - (FStart + 5));
    FOut.WriteBuffer(StoreMagic, 4);
    const int64_t storeSize = FOut.Position() - FStart;
    // TotalSize is an Int32: a larger file could not be measured on the fallback path.
    if (FImageSize + storeSize > INT32_MAX) throw EStoreLimitError("The screensaver would be larger than 2 GiB");
    PutInt32At(FStart, static_cast<int32_t>(FImageSize + storeSize));
    PutInt32At(FStart + 9, FCount);
    FOut.SetPosition(FStart + storeSize);
    return storeSize;
}

std::vector<uint8_t> BuildStore(const std::vector<TStoreItem>& items, int32_t nameKey, int64_t imageSize) {
    TMemoryStream stream;
    TStoreWriter writer(stream, nameKey, imageSize);
    for (const TStoreItem& item : items)
        writer.AddItem(item.Name, item.Data.data(), item.Data.size(), item.Compress);
    writer.Finish();
    return std::vector<uint8_t>(stream.Memory(), stream.Memory() + stream.Length());
}

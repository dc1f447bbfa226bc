#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>
#include <zlib.h>

#include "PEBuilder.h"
#include "store/ZLibEx.h"
#include "store/uExeAdder.h"
#include "store/uPEUtils.h"

namespace {

// Store bytes put together field by field, independently of the writer.
struct HandStore {
    std::vector<uint8_t> Bytes;
    void U8(uint8_t v) { Bytes.push_back(v); }
    void I32(int32_t v) {
        for (int i = 0; i < 4; ++i)
            U8(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    }
    void I64(int64_t v) {
        for (int i = 0; i < 8; ++i)
            U8(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
    }
    void Raw(const std::vector<uint8_t>& b) { Bytes.insert(Bytes.end(), b.begin(), b.end()); }
    void Magic() { Raw({'P', 'L', 'W', 'S'}); }
    void Record(const std::string& name, uint8_t key, uint8_t compressed, const std::vector<uint8_t>& payload) {
        I32(static_cast<int32_t>(name.size()));
        for (char c : name)
            U8(static_cast<uint8_t>(c) ^ key);
        U8(compressed);
        I32(static_cast<int32_t>(payload.size()));
        Raw(payload);
    }
};

std::vector<uint8_t> Zlib(const std::string& text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::vector<uint8_t> out(size);
    compress2(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()), 9);
    out.resize(size);
    return out;
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// A store of the given records behind an image, as the writer would lay it out.
std::vector<uint8_t> StoreFile(const std::vector<uint8_t>& image, int32_t nameKey,
                               const std::function<void(HandStore&)>& records, int32_t count, int64_t extra = 0,
                               uint8_t trailerFlag = 1) {
    HandStore body;
    body.I32(nameKey);
    body.I32(count);
    records(body);
    HandStore file;
    file.Raw(image);
    file.I32(static_cast<int32_t>(image.size() + 4 + 1 + body.Bytes.size() + 12));
    file.U8(trailerFlag);
    file.Raw(body.Bytes);
    file.I64(static_cast<int64_t>(body.Bytes.size()));
    file.Magic();
    for (int64_t i = 0; i < extra; ++i)
        file.U8(static_cast<uint8_t>(0xA0 + i));
    return file.Bytes;
}

std::string Text(const TItemType& item) {
    return item.Size ? std::string(reinterpret_cast<const char*>(item.Data), static_cast<size_t>(item.Size)) : "";
}

class ExeItems : public ::testing::Test {
protected:
    std::string Write(const std::vector<uint8_t>& bytes) {
        std::string name = FDir.File("file" + std::to_string(FCount++) + ".exe");
        WriteFileBytes(name, bytes);
        return name;
    }
    void Read(const std::vector<uint8_t>& bytes) { ReadExeItems(Write(bytes), FItems); }

    TTempDir FDir;
    int FCount = 0;
    TItemTypes FItems;
};

const auto ThreeRecords = [](HandStore& s) {
    s.Record("Movie", 0x5C, 1, Zlib("FWS movie bytes"));
    s.Record("", 0x5C, 0, {0x01});
    s.Record("Size\x01\xFF", 0x5C, 0, {0x10, 0x27, 0, 0});
};

} // namespace

TEST_F(ExeItems, HandBuiltStoreIsReadOnBothPaths) {
    const std::vector<uint8_t> image = BuildSimplePEImage();
    for (int64_t extra : {0, 1, 3, 5000}) {
        Read(StoreFile(image, 0x1234565C, ThreeRecords, 3, extra));
        ASSERT_EQ(FItems.size(), 3u) << "extra " << extra;
        EXPECT_EQ(FItems[0].Name, "Movie");
        EXPECT_TRUE(FItems[0].Compressed);
        EXPECT_EQ(Text(FItems[0]), "FWS movie bytes");
        EXPECT_EQ(FItems[1].Name, "");
        EXPECT_FALSE(FItems[1].Compressed);
        ASSERT_EQ(FItems[1].Size, 1);
        EXPECT_EQ(FItems[1].Data[0], 1);
        EXPECT_EQ(FItems[2].Name, "Size\x01\xFF") << "names keep every byte";
        ASSERT_EQ(FItems[2].Size, 4);
        int32_t value;
        std::memcpy(&value, FItems[2].Data, 4);
        EXPECT_EQ(value, 10000);
    }
}

TEST_F(ExeItems, LocatesTheStoreAsTheReaderDoes) {
    const std::vector<uint8_t> image = BuildSimplePEImage();
    std::vector<uint8_t> primary = StoreFile(image, 7, ThreeRecords, 3);
    std::vector<uint8_t> fallback = StoreFile(image, 7, ThreeRecords, 3, 17);
    for (auto [bytes, path, tail] :
         {std::tuple{primary, TStorePath::Primary, 0}, std::tuple{fallback, TStorePath::Fallback, 17},
          std::tuple{image, TStorePath::None, 0}}) {
        std::string name = Write(bytes);
        TFileReadStream stream(name);
        TStoreLocation location = LocateStore(stream);
        EXPECT_EQ(location.Path, path);
        EXPECT_EQ(location.FileSize, static_cast<int64_t>(bytes.size()));
        if (path == TStorePath::None) continue;
        EXPECT_EQ(location.Tail, tail);
        EXPECT_EQ(location.BodyOffset, static_cast<int64_t>(image.size()) + 5);
    }
}

TEST_F(ExeItems, PrimaryPathDoesNotConsultImageOrTotalSize) {
    // No executable image at all, and a TotalSize that matches nothing: the magic at the end is enough.
    HandStore s;
    s.I32(-99);
    s.U8(0);
    HandStore body;
    body.I32(0);
    body.I32(1);
    body.Record("a", 0, 0, Bytes("xyz"));
    s.Raw(body.Bytes);
    s.I64(static_cast<int64_t>(body.Bytes.size()));
    s.Magic();
    Read(s.Bytes);
    ASSERT_EQ(FItems.size(), 1u);
    EXPECT_EQ(Text(FItems[0]), "xyz");
}

TEST_F(ExeItems, FallbackGivesUpOnZeroTrailerFlag) {
    Read(StoreFile(BuildSimplePEImage(), 7, ThreeRecords, 3, 10, /*trailerFlag*/ 0));
    EXPECT_TRUE(FItems.empty());
}

TEST_F(ExeItems, FilesWithoutAStoreGiveAnEmptyList) {
    Read(BuildSimplePEImage());
    EXPECT_TRUE(FItems.empty());
    ReadExeItems(FDir.File("missing.exe"), FItems);
    EXPECT_TRUE(FItems.empty());
    Read(StoreFile(
        BuildSimplePEImage(), 7, [](HandStore&) {}, 0));
    EXPECT_TRUE(FItems.empty());
    Read(StoreFile(
        BuildSimplePEImage(), 7, [](HandStore&) {}, -5));
    EXPECT_TRUE(FItems.empty());
}

TEST_F(ExeItems, NonImageWithoutMagicRaisesBadSignature) {
    try {
        Read(Bytes("just some text, no image and no store"));
        ADD_FAILURE() << "no exception";
    } catch (const EImageBlockException& e) {
        EXPECT_EQ(e.Message(), "Bad Signature");
    }
}

TEST_F(ExeItems, EmptyItemsHaveNoData) {
    Read(StoreFile(
        BuildSimplePEImage(), 0,
        [](HandStore& s) {
            s.Record("raw", 0, 0, {});
            s.Record("flagged", 0, 1, {});
            s.Record("inflates to nothing", 0, 1, Zlib(""));
            HandStore& h = s;
            h.I32(3);
            h.Raw(Bytes("neg"));
            h.U8(0);
            h.I32(-4); // a negative stored size is an empty item
        },
        4));
    ASSERT_EQ(FItems.size(), 4u);
    for (const TItemType& item : FItems) {
        EXPECT_EQ(item.Size, 0) << item.Name;
        EXPECT_EQ(item.Data, nullptr) << item.Name;
    }
    EXPECT_EQ(FItems[3].Name, "neg");
}

TEST_F(ExeItems, DamagedPayloadRaisesAfterTheItemsBeforeIt) {
    std::vector<uint8_t> corrupt = Zlib(std::string(5000, 'q'));
    for (size_t i = 4; i < corrupt.size() - 4; ++i)
        corrupt[i] ^= 0x33;
    std::vector<uint8_t> truncated = Zlib("some text that is long enough to be cut");
    truncated.resize(truncated.size() - 6);
    for (auto [payload, message] : {std::pair{corrupt, "data error"}, std::pair{truncated, "buffer error"}}) {
        std::vector<uint8_t> file = StoreFile(
            BuildSimplePEImage(), 0,
            [&](HandStore& s) {
                s.Record("first", 0, 0, Bytes("ok"));
                s.Record("bad", 0, 1, payload);
                s.Record("after", 0, 0, Bytes("never read"));
            },
            3);
        try {
            Read(file);
            ADD_FAILURE() << "no exception";
        } catch (const EZDecompressionError& e) {
            EXPECT_EQ(e.Message(), message);
        }
        ASSERT_EQ(FItems.size(), 3u) << "the list keeps its full length";
        EXPECT_EQ(Text(FItems[0]), "ok");
        EXPECT_EQ(FItems[1].Name, "bad");
        EXPECT_EQ(FItems[1].Data, nullptr);
        EXPECT_EQ(FItems[2].Name, "");
        FreeExeItems(FItems);
        EXPECT_EQ(FItems.size(), 0u);

        // Streamed, the damage is reported alike; the record after it stays readable.
        TMemoryStream source;
        source.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
        TStoreReader reader(source);
        TStoreRecord first, bad, after;
        ASSERT_TRUE(reader.Next(first) && reader.Next(bad) && reader.Next(after));
        TMemoryStream out;
        try {
            reader.CopyData(bad, out);
            ADD_FAILURE() << "no exception";
        } catch (const EZDecompressionError& e) {
            EXPECT_EQ(e.Message(), message);
        }
        TMemoryStream rest;
        reader.CopyData(after, rest);
        EXPECT_EQ(rest.Length(), 10);
    }
}

TEST_F(ExeItems, SizesLargerThanTheFileAreDamageNotAllocations) {
    const std::vector<uint8_t> image = BuildSimplePEImage();
    const std::vector<std::function<void(HandStore&)>> damaged = {
        [](HandStore& s) { s.I32(0x7FFFFFFF); }, // name length
        [](HandStore& s) {
            s.I32(1);
            s.U8('n');
            s.U8(0);
            s.I32(0x7FFFFFFF);
        }, // raw size
        [](HandStore& s) {
            s.I32(1);
            s.U8('n');
            s.U8(1);
            s.I32(0x7FFFFFF0);
        }, // compressed size
    };
    for (const auto& records : damaged) {
        EXPECT_THROW(Read(StoreFile(image, 0, records, 1)), EReadError);
        FreeExeItems(FItems);
    }
    // An item count the records cannot hold does not size the list.
    EXPECT_THROW(Read(StoreFile(image, 0, ThreeRecords, 0x7FFFFFFF)), EReadError);
    EXPECT_TRUE(FItems.empty());
}

TEST_F(ExeItems, TrailerPointingOutsideTheFileGivesAnEmptyList) {
    const std::vector<uint8_t> image = BuildSimplePEImage();
    std::vector<uint8_t> good = StoreFile(image, 0, ThreeRecords, 3);
    const size_t bodyLength = good.size() - 12;
    auto withBodyLength = [&](int64_t value) {
        std::vector<uint8_t> b = good;
        for (size_t i = 0; i < 8; ++i)
            b[bodyLength + i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
        return b;
    };
    auto withTotalSize = [&](int32_t value, int64_t extra) {
        std::vector<uint8_t> b = StoreFile(image, 0, ThreeRecords, 3, extra);
        for (size_t i = 0; i < 4; ++i)
            b[image.size() + i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
        return b;
    };
    for (const std::vector<uint8_t>& bytes :
         {withBodyLength(-1), withBodyLength(int64_t{1} << 40), withBodyLength(static_cast<int64_t>(good.size())),
          withBodyLength(INT64_MIN), withBodyLength(4), withTotalSize(0x7FFFFFFF, 9), withTotalSize(-0x7FFFFFFF, 9),
          withTotalSize(8, 9)}) {
        Read(bytes);
        EXPECT_TRUE(FItems.empty());
    }
}

TEST_F(ExeItems, UnscramblingIsItsOwnInverse) {
    // A name stored in plain text comes back scrambled: the reader applies the same XOR the writer did.
    Read(StoreFile(
        BuildSimplePEImage(), 0x5C,
        [](HandStore& s) {
            s.Record("Item", 0x5C, 0, Bytes("a"));
            s.Record("\x15\x28\x39\x31", 0x5C, 0, Bytes("b")); // stored as the plain bytes "Item"
        },
        2));
    ASSERT_EQ(FItems.size(), 2u);
    EXPECT_EQ(FItems[0].Name, "Item");
    EXPECT_EQ(FItems[1].Name, "\x15\x28\x39\x31");
}

// One table for the writer and the reader: what BuildStore writes, ReadExeItems gives back.
TEST_F(ExeItems, WriterAndReaderRoundTrip) {
    std::vector<uint8_t> big(300'000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>((i * 7919) >> 5);
    const std::vector<TStoreItem> items = {
        {"Movie", big, true},
        {"Loop", {1}, false},
        {"Scale", {2, 0, 0, 0}, false},
        {"", Bytes("no name"), true},
        {"empty", {}, true},
        {"empty raw", {}, false},
        {"\x80\xFF\x01", Bytes("high bytes in the name"), true},
        {"tiny", {'x'}, true},
    };
    for (int32_t key : {0, 0x5C, 0x7FFFFFFF, -1}) {
        for (int64_t extra : {0, 100}) {
            std::vector<uint8_t> file = BuildSimplePEImage();
            std::vector<uint8_t> store = BuildStore(items, key, static_cast<int64_t>(file.size()));
            file.insert(file.end(), store.begin(), store.end());
            // TotalSize is the whole file as written
            int32_t totalSize;
            std::memcpy(&totalSize, &store[0], 4);
            EXPECT_EQ(totalSize, static_cast<int32_t>(file.size()));
            file.insert(file.end(), static_cast<size_t>(extra), 0x55);
            Read(file);
            ASSERT_EQ(FItems.size(), items.size());
            for (size_t i = 0; i < items.size(); ++i) {
                EXPECT_EQ(FItems[i].Name, items[i].Name);
                EXPECT_EQ(FItems[i].Compressed, items[i].Compress);
                EXPECT_EQ(std::vector<uint8_t>(FItems[i].Data, FItems[i].Data + FItems[i].Size), items[i].Data);
            }
            // Streamed, each item gives the same bytes, in whatever order the records are asked for.
            TMemoryStream source;
            source.WriteBuffer(file.data(), static_cast<int32_t>(file.size()));
            TStoreReader reader(source);
            std::vector<TStoreRecord> records(items.size());
            for (TStoreRecord& record : records)
                ASSERT_TRUE(reader.Next(record));
            EXPECT_FALSE(reader.Next(records[0]));
            for (size_t i = items.size(); i-- > 0;) {
                TMemoryStream out;
                EXPECT_EQ(reader.CopyData(records[i], out), static_cast<int64_t>(items[i].Data.size()));
                EXPECT_EQ(std::vector<uint8_t>(out.Memory(), out.Memory() + out.Length()), items[i].Data) << i;
            }
        }
    }
}

namespace {
// Passes reads and writes on to a memory stream, noting the largest single one.
class TPieceStream : public TMemoryStream {
public:
    int32_t LargestRead = 0, LargestWrite = 0;
    int32_t Read(void* buffer, int32_t count) override {
        LargestRead = std::max(LargestRead, count);
        return TMemoryStream::Read(buffer, count);
    }
    int32_t Write(const void* buffer, int32_t count) override {
        LargestWrite = std::max(LargestWrite, count);
        return TMemoryStream::Write(buffer, count);
    }
};
} // namespace

TEST(TStoreReader, StreamsAnItemInPiecesAndReadsNoOtherPayload) {
    // 16 MiB that deflate about 1000:1 and 2 MiB that hardly deflate: neither side of the copy may be held whole.
    std::vector<uint8_t> zeros(16 << 20, 0), noise(2 << 20);
    uint32_t seed = 1;
    for (uint8_t& b : noise)
        b = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    const std::vector<uint8_t> store = BuildStore({{"a", zeros, true}, {"b", noise, true}, {"c", noise, false}}, 0, 0);
    TPieceStream source;
    source.WriteBuffer(store.data(), static_cast<int32_t>(store.size()));
    TStoreReader reader(source);
    for (const auto& expected : {zeros, noise, noise}) {
        TStoreRecord record;
        ASSERT_TRUE(reader.Next(record));
        source.LargestRead = 0;
        TPieceStream out;
        EXPECT_EQ(reader.CopyData(record, out), static_cast<int64_t>(expected.size()));
        EXPECT_TRUE(out.Length() == static_cast<int64_t>(expected.size()) &&
                    std::memcmp(out.Memory(), expected.data(), expected.size()) == 0)
            << record.Name;
        EXPECT_LE(source.LargestRead, 64 * 1024) << record.Name;
        EXPECT_LE(out.LargestWrite, 256 * 1024) << record.Name;
    }
    // Walking the records touches only their headers.
    TStoreReader walk(source);
    source.LargestRead = 0;
    for (TStoreRecord record; walk.Next(record);) {
    }
    EXPECT_LE(source.LargestRead, 8);
}

#ifdef _WIN32
#include <windows.h>

TEST_F(ExeItems, ReadStreamDeniesNothingToOtherOpeners) {
    std::string name = Write(BuildSimplePEImage());
    TFileReadStream stream(name);
    HANDLE writer = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "a writer may open the file the reader holds";
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
}
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>

#include <gtest/gtest.h>
#include <zlib.h>

#include "store/ZLibEx.h"

namespace {

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int level = Z_DEFAULT_COMPRESSION) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> out(size);
    EXPECT_EQ(compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level), Z_OK);
    out.resize(size);
    return out;
}

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed, int alphabet = 256) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> data(size);
    for (auto& b : data)
        b = static_cast<uint8_t>(rng() % static_cast<unsigned>(alphabet));
    return data;
}

struct Inflated {
    void* Data = nullptr;
    int32_t Size = 0;
    ~Inflated() { std::free(Data); }
    std::vector<uint8_t> Bytes() const {
        auto p = static_cast<const uint8_t*>(Data);
        return {p, p + Size};
    }
};

// The error InflateBuffer raises for the input; the two inflaters that read it from a stream in pieces must raise
// the same (only InflateBuffer and its stream twin know the item bound).
std::string InflateError(const std::vector<uint8_t>& input, bool bounded = false) {
    std::string message = "no error";
    Inflated out;
    try {
        InflateBuffer(input.data(), static_cast<int32_t>(input.size()), out.Data, out.Size, 0);
    } catch (const EZDecompressionError& e) {
        EXPECT_EQ(out.Data, nullptr) << "nothing may be handed out when inflation fails";
        message = e.Message();
    }
    TMemoryStream source;
    source.WriteBuffer(input.data(), static_cast<int32_t>(input.size()));
    source.WriteBuffer("tail", 4); // bytes behind the stream are not its input
    try {
        source.SetPosition(0);
        Inflated streamed;
        InflateStreamToBuffer(source, static_cast<int64_t>(input.size()), streamed.Data, streamed.Size);
        EXPECT_EQ(message, "no error");
    } catch (const EZDecompressionError& e) {
        EXPECT_EQ(e.Message(), message) << "InflateStreamToBuffer";
    }
    if (bounded) return message;
    try {
        source.SetPosition(0);
        TMemoryStream sink;
        InflateStreamToStream(source, static_cast<int64_t>(input.size()), sink);
        EXPECT_EQ(message, "no error");
    } catch (const EZDecompressionError& e) {
        EXPECT_EQ(e.Message(), message) << "InflateStreamToStream";
    }
    return message;
}

// Counts what is written to it and keeps nothing.
class TCountingStream : public TStream {
public:
    int64_t Written = 0;
    bool AllZero = true;
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void* buffer, int32_t count) override {
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        AllZero = AllZero && std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
        Written += count;
        return count;
    }
    int64_t Seek64(int64_t, TSeekOrigin) override { return Written; }
};

} // namespace

TEST(CheckInflateResult, PassesNonNegativeCodesAndRaisesZlibMessages) {
    EXPECT_EQ(CheckInflateResult(Z_OK), Z_OK);
    EXPECT_EQ(CheckInflateResult(Z_STREAM_END), Z_STREAM_END);
    EXPECT_EQ(CheckInflateResult(Z_NEED_DICT), Z_NEED_DICT);
    const std::pair<int, const char*> rows[] = {
        {Z_ERRNO, "file error"},
        {Z_STREAM_ERROR, "stream error"},
        {Z_DATA_ERROR, "data error"},
        {Z_MEM_ERROR, "insufficient memory"},
        {Z_BUF_ERROR, "buffer error"},
        {Z_VERSION_ERROR, "incompatible version"},
        {-7, ""},
        {-100, ""},
    };
    for (auto [code, message] : rows) {
        try {
            CheckInflateResult(code);
            ADD_FAILURE() << code << " did not raise";
        } catch (const EZDecompressionError& e) {
            EXPECT_EQ(e.Message(), message) << code;
        }
    }
}

TEST(InflateBuffer, GivesBackWhatAnyLevelOfDeflateTook) {
    const std::vector<std::vector<uint8_t>> inputs = {
        {}, {0x42}, RandomBytes(100'000, 1), RandomBytes(300'000, 2, 4), std::vector<uint8_t>(1 << 20, 0),
    };
    for (const auto& input : inputs) {
        for (int level = 0; level <= 9; level += 3) {
            std::vector<uint8_t> packed = Deflate(input, level);
            for (int32_t estimate : {0, 1, static_cast<int32_t>(input.size())}) {
                Inflated out;
                InflateBuffer(packed.data(), static_cast<int32_t>(packed.size()), out.Data, out.Size, estimate);
                EXPECT_EQ(out.Bytes(), input) << "size " << input.size() << " level " << level;
                if (input.empty()) {
                    EXPECT_EQ(out.Data, nullptr);
                }
            }
            TMemoryStream source, sink;
            source.WriteBuffer(packed.data(), static_cast<int32_t>(packed.size()));
            source.SetPosition(0);
            Inflated streamed;
            InflateStreamToBuffer(source, static_cast<int64_t>(packed.size()), streamed.Data, streamed.Size);
            EXPECT_EQ(streamed.Bytes(), input) << "InflateStreamToBuffer, size " << input.size();
            source.SetPosition(0);
            EXPECT_EQ(InflateStreamToStream(source, static_cast<int64_t>(packed.size()), sink),
                      static_cast<int64_t>(input.size()));
            EXPECT_EQ(std::vector<uint8_t>(sink.Memory(), sink.Memory() + sink.Length()), input);
        }
    }
}

TEST(InflateBuffer, EmptyStreamGivesSizeZero) {
    std::vector<uint8_t> empty = Deflate({});
    ASSERT_EQ(empty.size(), 8u);
    Inflated out;
    InflateBuffer(empty.data(), 8, out.Data, out.Size, 0);
    EXPECT_EQ(out.Size, 0);
}

TEST(InflateBuffer, DamagedInputRaisesZlibMessage) {
    std::vector<uint8_t> good = Deflate(RandomBytes(50'000, 3, 16));
    std::vector<uint8_t> truncated(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
    std::vector<uint8_t> noTrailer(good.begin(), good.end() - 4);
    std::vector<uint8_t> corrupt = good;
    for (size_t i = 10; i < 40; ++i)
        corrupt[i] ^= 0xFF;
    std::vector<uint8_t> badChecksum = good;
    ASSERT_GT(badChecksum.size(), 4u);
    badChecksum[badChecksum.size() - 1] ^= 1;
    std::vector<uint8_t> badHeader = good;
    badHeader[0] = 0x00;
    // A stream with a preset dictionary (FDICT) whose DICTID is made up.
    std::vector<uint8_t> dictionary = {0x78, 0xBB, 0x00, 0x00, 0x00, 0x01, 0x03, 0x00};

    EXPECT_EQ(InflateError(truncated), "buffer error");
    EXPECT_EQ(InflateError(noTrailer), "buffer error");
    EXPECT_EQ(InflateError({}), "buffer error");
    EXPECT_EQ(InflateError(corrupt), "data error");
    EXPECT_EQ(InflateError(badChecksum), "data error");
    EXPECT_EQ(InflateError(badHeader), "data error");
    EXPECT_EQ(InflateError(dictionary), "stream error");
}

TEST(InflateBuffer, RefusesToInflateBeyondTheItemBound) {
    // Zeros deflate about 1000:1, so a stream just over the bound costs a few hundred KiB.
    z_stream z{};
    ASSERT_EQ(deflateInit(&z, Z_BEST_COMPRESSION), Z_OK);
    std::vector<uint8_t> zeros(1 << 20, 0), out;
    std::vector<uint8_t> chunk(1 << 16);
    const int64_t total = int64_t{MaxInflatedSize} + (1 << 20);
    for (int64_t fed = 0; fed < total;) {
        z.next_in = zeros.data();
        z.avail_in = static_cast<uInt>(zeros.size());
        fed += static_cast<int64_t>(zeros.size());
        int flush = fed >= total ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = chunk.data();
            z.avail_out = static_cast<uInt>(chunk.size());
            deflate(&z, flush);
            out.insert(out.end(), chunk.data(), chunk.data() + (chunk.size() - z.avail_out));
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    EXPECT_EQ(InflateError(out, true), "insufficient memory");

    // Streamed to a file the item has no bound.
    TMemoryStream source;
    source.WriteBuffer(out.data(), static_cast<int32_t>(out.size()));
    source.SetPosition(0);
    TCountingStream sink;
    EXPECT_EQ(InflateStreamToStream(source, static_cast<int64_t>(out.size()), sink), total);
    EXPECT_EQ(sink.Written, total);
    EXPECT_TRUE(sink.AllZero);
}

namespace {

TMemoryStream SourceOf(const std::vector<uint8_t>& bytes) {
    TMemoryStream source;
    source.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    source.SetPosition(0);
    return source;
}

std::vector<uint8_t> ReadAll(TStream& stream, int32_t chunk) {
    std::vector<uint8_t> out, buffer(static_cast<size_t>(chunk));
    while (int32_t n = stream.Read(buffer.data(), chunk))
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    return out;
}

const char* const InvalidOperation = "Invalid ZStream operation!";

} // namespace

TEST(TZDecompressionStream, ReadsInAnyChunkSizeAndStopsBehindTheStream) {
    const std::vector<uint8_t> data = RandomBytes(200'000, 4, 8);
    std::vector<uint8_t> bytes = Deflate(data);
    const int64_t streamEnd = static_cast<int64_t>(bytes.size());
    bytes.insert(bytes.end(), {'T', 'A', 'I', 'L'});
    for (int32_t chunk : {1, 7, 4096, 65536, 1 << 20}) {
        TMemoryStream source = SourceOf(bytes);
        TZDecompressionStream z(source);
        EXPECT_EQ(ReadAll(z, chunk), data) << chunk;
        EXPECT_EQ(z.Read(bytes.data(), 10), 0);
        EXPECT_EQ(source.Position(), streamEnd) << "the source stands on the first byte behind the zlib stream";
    }
}

TEST(TZDecompressionStream, CountZeroInflatesNothing) {
    TMemoryStream source = SourceOf(Deflate({1, 2, 3}));
    TZDecompressionStream z(source);
    uint8_t b;
    EXPECT_EQ(z.Read(&b, 0), 0);
    EXPECT_EQ(z.Position(), 0);
    EXPECT_EQ(source.Position(), 0);
}

TEST(TZDecompressionStream, SeeksForwardRewindsToZeroAndRefusesTheRest) {
    const std::vector<uint8_t> data = RandomBytes(100'000, 5, 32);
    TMemoryStream source = SourceOf(Deflate(data));
    TZDecompressionStream z(source);

    uint8_t buffer[100];
    z.ReadBuffer(buffer, 100);
    EXPECT_EQ(z.Seek(0, TSeekOrigin::soCurrent), 100) << "position is the bytes inflated so far";
    EXPECT_EQ(z.Seek(900, TSeekOrigin::soCurrent), 1000);
    EXPECT_EQ(z.Seek(5000, TSeekOrigin::soBeginning), 5000);
    z.ReadBuffer(buffer, 100);
    EXPECT_EQ(0, std::memcmp(buffer, data.data() + 5000, 100));

    for (auto [offset, origin] :
         {std::pair{5100, TSeekOrigin::soBeginning}, std::pair{10, TSeekOrigin::soBeginning},
          std::pair{-1, TSeekOrigin::soCurrent}, std::pair{-1, TSeekOrigin::soEnd}, std::pair{1, TSeekOrigin::soEnd}}) {
        try {
            z.Seek(offset, origin);
            ADD_FAILURE() << offset << " did not raise";
        } catch (const EZDecompressionError& e) {
            EXPECT_EQ(e.Message(), InvalidOperation);
        }
    }

    EXPECT_EQ(z.Seek(0, TSeekOrigin::soBeginning), 0);
    EXPECT_EQ(ReadAll(z, 333), data) << "rewinding inflates the same bytes again";
    EXPECT_EQ(z.Seek(0, TSeekOrigin::soEnd), static_cast<int32_t>(data.size()));
    // The 64-bit seek is the 32-bit one for offsets it can hold.
    EXPECT_EQ(z.Seek64(0, TSeekOrigin::soBeginning), 0);
    EXPECT_EQ(z.Seek64(10, TSeekOrigin::soCurrent), 10);
    EXPECT_THROW(z.Seek64(int64_t{1} << 32, TSeekOrigin::soCurrent), ERangeError);
    EXPECT_EQ(z.Position(), 10);
}

TEST(TZDecompressionStream, SkippingPastTheEndRaisesReadError) {
    TMemoryStream source = SourceOf(Deflate(std::vector<uint8_t>(1000, 7)));
    TZDecompressionStream z(source);
    EXPECT_THROW(z.Seek(5000, TSeekOrigin::soCurrent), EReadError);
}

TEST(TZDecompressionStream, SizeIsKnownOnlyAtPositionZero) {
    const std::vector<uint8_t> data = RandomBytes(70'000, 6, 64);
    TMemoryStream source = SourceOf(Deflate(data));
    TZDecompressionStream z(source);
    EXPECT_EQ(z.GetSize(), static_cast<int64_t>(data.size()));
    EXPECT_EQ(z.Position(), 0);
    uint8_t b;
    z.ReadBuffer(&b, 1);
    EXPECT_EQ(b, data[0]);
    try {
        z.GetSize();
        ADD_FAILURE() << "size at position 1 did not raise";
    } catch (const EZDecompressionError& e) {
        EXPECT_EQ(e.Message(), InvalidOperation);
    }
}

TEST(TZDecompressionStream, WriteIsRefused) {
    TMemoryStream source = SourceOf(Deflate({1}));
    TZDecompressionStream z(source);
    EXPECT_THROW(z.Write("x", 1), EZDecompressionError);
}

TEST(TZDecompressionStream, TruncatedSourceGivesWhatWasInflatedThenZero) {
    const std::vector<uint8_t> data = RandomBytes(400'000, 7, 16);
    std::vector<uint8_t> packed = Deflate(data);
    packed.resize(packed.size() / 2);
    TMemoryStream source = SourceOf(packed);
    TZDecompressionStream z(source);
    std::vector<uint8_t> got = ReadAll(z, 8192);
    ASSERT_GT(got.size(), 0u);
    ASSERT_LT(got.size(), data.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
    uint8_t b;
    EXPECT_EQ(z.Read(&b, 1), 0);
}

TEST(TZDecompressionStream, TruncatedSourceGivesTheSameBytesWhateverTheReadSize) {
    // A long run cut off in the middle: inflate holds output of input it has taken when the source runs dry.
    std::vector<uint8_t> packed = Deflate(std::vector<uint8_t>(100'000, 'a'), 9);
    packed.resize(60);
    std::vector<size_t> totals;
    for (int32_t chunk : {1, 4096, 1 << 20}) {
        TMemoryStream source = SourceOf(packed);
        TZDecompressionStream z(source);
        std::vector<uint8_t> got = ReadAll(z, chunk);
        EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](uint8_t b) { return b == 'a'; }));
        totals.push_back(got.size());
    }
    EXPECT_EQ(totals[0], totals[1]);
    EXPECT_EQ(totals[0], totals[2]);
}

TEST(TZDecompressionStream, CorruptDataRaisesAndRefillIsReported) {
    std::vector<uint8_t> packed = Deflate(RandomBytes(300'000, 8));
    std::vector<uint8_t> corrupt = packed;
    for (size_t i = 20; i < 60; ++i)
        corrupt[i] ^= 0x5A;
    TMemoryStream bad = SourceOf(corrupt);
    TZDecompressionStream z(bad);
    std::vector<uint8_t> buffer(4096);
    EXPECT_THROW(ReadAll(z, 4096), EZDecompressionError);

    TMemoryStream good = SourceOf(packed);
    TZDecompressionStream z2(good);
    int refills = 0;
    z2.OnRefill = [&](TCustomZStream&) { ++refills; };
    ReadAll(z2, 100'000);
    EXPECT_EQ(refills, static_cast<int>((packed.size() + 65535) / 65536)) << "one source read per 64 KiB";
}

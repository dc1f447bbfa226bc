// The streaming store writer: payloads fed in pieces give the bytes zlib's one-call compress2 gives, and a store
// the reader could not read back is refused while it is written.
#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>
#include <zlib.h>

#include "store/ZLibEx.h"
#include "store/uExeAdder.h"

namespace {

// Yields size bytes of a pattern (or zeros), at most step bytes per read, as a file or a pipe might.
class TPatternStream : public TStream {
public:
    TPatternStream(int64_t size, int32_t step, bool zeros = false) : FSize(size), FStep(step), FZeros(zeros) {}
    int32_t Read(void* buffer, int32_t count) override {
        const auto n = static_cast<int32_t>(std::min<int64_t>({count, FStep, FSize - FPos}));
        auto* out = static_cast<uint8_t*>(buffer);
        if (FZeros) std::memset(out, 0, static_cast<size_t>(n));
        for (int32_t i = 0; i < n && !FZeros; ++i)
            out[i] = Byte(FPos + i);
        FPos += n;
        return n;
    }
    int32_t Write(const void*, int32_t) override { return 0; }
    int64_t Seek64(int64_t offset, TSeekOrigin) override { return offset == 0 ? FPos : -1; }
    static uint8_t Byte(int64_t i) { return static_cast<uint8_t>((i * 7919) >> 5 ^ (i % 251)); }

private:
    int64_t FSize, FPos = 0;
    int32_t FStep;
    bool FZeros;
};

std::vector<uint8_t> Compress2(const std::vector<uint8_t>& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> out(size);
    EXPECT_EQ(compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION), Z_OK);
    out.resize(size);
    return out;
}

std::vector<uint8_t> Bytes(const TMemoryStream& stream) {
    return {stream.Memory(), stream.Memory() + stream.Length()};
}

} // namespace

TEST(StoreWriter, StreamedPayloadsMatchZlibsOneCallCompression) {
    const int64_t size = 300'000; // several of the writer's pieces
    std::vector<uint8_t> data(size);
    for (int64_t i = 0; i < size; ++i)
        data[static_cast<size_t>(i)] = TPatternStream::Byte(i);
    const std::vector<uint8_t> fromMemory = BuildStore({{"Movie", data, true}, {"Raw", data, false}}, 0x21, 0);
    for (int32_t step : {1000, 65536, 1 << 20}) {
        TMemoryStream out;
        TStoreWriter writer(out, 0x21, 0);
        TPatternStream compressed(size, step), raw(size, step);
        writer.AddItem("Movie", compressed, true);
        writer.AddItem("Raw", raw, false);
        writer.Finish();
        EXPECT_EQ(Bytes(out), fromMemory) << "reads of " << step << " bytes";
    }
    // Behind TotalSize, the flag, the key, the count and the first record's name, flag and size: compress2's bytes.
    const std::vector<uint8_t> reference = Compress2(data);
    const size_t payload = 4 + 1 + 4 + 4 + 4 + 5 + 1 + 4;
    ASSERT_GT(fromMemory.size(), payload + reference.size());
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), fromMemory.begin() + payload));
}

TEST(StoreWriter, RefusesAStoreTheReaderCouldNotReadBack) {
    {
        TMemoryStream out;
        TStoreWriter writer(out, 0, 0);
        TPatternStream tooBig(int64_t{MaxInflatedSize} + 1, 1 << 20, true);
        EXPECT_THROW(writer.AddItem("Movie", tooBig, true), EStoreLimitError) << "more than the reader inflates";
    }
    // Header 13 bytes, record of "x" 10 bytes before its payload, trailer 12 bytes: 3 payload bytes fit exactly.
    const int64_t image = int64_t{INT32_MAX} - 13 - 10 - 3 - 12;
    {
        TMemoryStream out;
        TStoreWriter writer(out, 0, image);
        writer.AddItem("x", "abc", 3, false);
        EXPECT_EQ(image + writer.Finish(), INT32_MAX);
    }
    {
        TMemoryStream out;
        TStoreWriter writer(out, 0, image);
        EXPECT_THROW(writer.AddItem("x", "abcd", 4, false), EStoreLimitError) << "the item that crosses 2 GiB";
    }
    TMemoryStream out;
    TStoreWriter writer(out, 0, INT32_MAX - 20);
    EXPECT_THROW(writer.Finish(), EStoreLimitError) << "TotalSize would not fit its 32 bits";
}

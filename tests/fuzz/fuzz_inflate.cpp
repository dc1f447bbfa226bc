// The zlib layer over arbitrary bytes: the buffer inflater, the inflaters that read in pieces and the inflating
// stream must agree.
// The first input byte chooses how the stream is read; the rest is the compressed data.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "store/ZLibEx.h"

namespace {
[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "fuzz_inflate: %s\n", what);
    std::abort();
}

// The stream has no size limit of its own; stop there rather than measure the machine: past it the stream is only
// read once, and only as far as this. Its pieces (64 KiB of input, reads of up to 1 MiB) are all crossed before.
constexpr size_t MaxStreamOutput = 4 * 1024 * 1024;

// Read sizes that cross the stream's 64 KiB input buffer and its 8 KiB skip pieces at odd places.
constexpr int32_t ChunkSizes[8] = {1, 3, 17, 255, 4096, 8193, 65535, 1 << 20};

struct TStreamResult {
    std::vector<uint8_t> Bytes;
    std::optional<std::string> Error;
    bool Capped = false;
};

// The step between sizes is odd, so every run of eight reads uses every size: with an even step some control bytes
// read whole streams one byte at a time, and those inputs took most of the run's time without reaching anything the
// mixed sizes do not (each size still lands at every kind of place over the corpus).
int32_t ChunkAt(uint8_t control, size_t step) {
    return ChunkSizes[(control + step * (1 + 2 * (control >> 4))) % 8];
}

// Reads until the stream gives nothing more, appending to out; start is the stream's position beforehand.
void Drain(TZDecompressionStream& stream, uint8_t control, int64_t start, TStreamResult& out) {
    // Allocated once: each read lands at the end of it, so that a write past the count still leaves the block.
    static std::vector<uint8_t> chunks(ChunkSizes[7]);
    for (size_t step = 0;; ++step) {
        if (out.Bytes.size() > MaxStreamOutput) {
            out.Capped = true;
            return;
        }
        const int32_t count = ChunkAt(control, step);
        uint8_t* chunk = chunks.data() + chunks.size() - static_cast<size_t>(count);
        const int32_t n = stream.Read(chunk, count);
        if (n < 0 || n > count) Finding("Read returned more than asked");
        if (stream.Position() != start + static_cast<int64_t>(out.Bytes.size()) + n)
            Finding("position is not bytes read");
        out.Bytes.insert(out.Bytes.end(), chunk, chunk + n);
        if (n == 0) return;
    }
}

// Compares what is written to it with the expected bytes as it comes, holding nothing.
class TComparingSink : public TStream {
public:
    explicit TComparingSink(const std::vector<uint8_t>& expected) : FExpected(expected) {}
    bool Same() const { return FSame && FWritten == FExpected.size(); }
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void* buffer, int32_t count) override {
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        const size_t n = static_cast<size_t>(count);
        FSame = FSame && FWritten + n <= FExpected.size() &&
                std::equal(bytes, bytes + n, FExpected.begin() + static_cast<ptrdiff_t>(FWritten));
        FWritten += n;
        return count;
    }
    int64_t Seek64(int64_t, TSeekOrigin) override { return static_cast<int64_t>(FWritten); }

private:
    const std::vector<uint8_t>& FExpected;
    size_t FWritten = 0;
    bool FSame = true;
};

// Beyond this much output (past the 64 KiB input and 256 KiB output pieces of the inflaters) every inflater only
// repeats what it did below it, and inflating megabytes in every execution would cost the run its speed: such
// inputs are checked for the bound alone.
constexpr int32_t MaxChecked = 512 * 1024;

// InflateBuffer's bytes or its error.
struct TWhole {
    std::optional<std::vector<uint8_t>> Bytes;
    std::string Error;
};

// The bounded inflater that reads its input from a stream in pieces; none when the output exceeds MaxChecked.
std::optional<TWhole> InflateBounded(const uint8_t* packed, int32_t packedSize) {
    TMemoryStream source;
    source.WriteBuffer(packed, packedSize);
    source.SetPosition(0);
    TWhole result;
    try {
        void* out = nullptr;
        int32_t outSize = 0;
        InflateStreamToBuffer(source, packedSize, out, outSize, MaxChecked);
        if ((outSize == 0) != (out == nullptr)) Finding("InflateStreamToBuffer block and size disagree");
        const uint8_t* bytes = static_cast<const uint8_t*>(out);
        result.Bytes.emplace(bytes, bytes + outSize);
        std::free(out);
    } catch (const EZDecompressionError& e) {
        if (e.Message() == "insufficient memory") return std::nullopt;
        result.Error = e.Message();
    }
    return result;
}

// The stream copy must give the same bytes or the same error, holding nothing.
void CompareStreamCopy(const uint8_t* packed, int32_t packedSize, const TWhole& whole) {
    TMemoryStream source;
    source.WriteBuffer(packed, packedSize);
    source.SetPosition(0);
    static const std::vector<uint8_t> none;
    TComparingSink copy(whole.Bytes ? *whole.Bytes : none);
    try {
        const int64_t written = InflateStreamToStream(source, packedSize, copy);
        if (written != copy.Position()) Finding("InflateStreamToStream miscounted");
        if (!whole.Bytes || !copy.Same()) Finding("InflateStreamToStream and InflateBuffer disagree");
    } catch (const EZDecompressionError& e) {
        if (whole.Bytes || e.Message() != whole.Error) Finding("InflateStreamToStream failed otherwise");
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t control = data[0];
    const uint8_t* packed = data + 1;
    const int32_t packedSize = static_cast<int32_t>(size - 1);

    const std::optional<TWhole> bounded = InflateBounded(packed, packedSize);
    if (!bounded) return 0;
    TWhole buffered;
    try {
        void* out = nullptr;
        int32_t outSize = 0;
        InflateBuffer(packed, packedSize, out, outSize, 0);
        if ((outSize == 0) != (out == nullptr)) Finding("InflateBuffer block and size disagree");
        const uint8_t* bytes = static_cast<const uint8_t*>(out);
        buffered.Bytes.emplace(bytes, bytes + outSize);
        std::free(out);
    } catch (const EZDecompressionError& e) {
        buffered.Error = e.Message();
    }
    if (buffered.Bytes != bounded->Bytes || buffered.Error != bounded->Error)
        Finding("InflateBuffer and InflateStreamToBuffer disagree");
    CompareStreamCopy(packed, packedSize, buffered);
    const std::optional<std::vector<uint8_t>>& whole = buffered.Bytes;
    const std::string& wholeError = buffered.Error;

    TMemoryStream source;
    source.WriteBuffer(packed, packedSize);
    source.SetPosition(0);
    TStreamResult first;
    // Past creation (which only fails when zlib cannot start), every exception here but the first pass's is a finding.
    TZDecompressionStream stream(source);
    try {
        Drain(stream, control, 0, first);
    } catch (const Exception& e) {
        first.Error = e.Message();
    }

    // Read again from the start, with a forward skip part of the way in, and compare with the first pass.
    if (stream.Seek(0, TSeekOrigin::soBeginning) != 0) Finding("rewind did not return 0");
    if (!first.Error && !first.Capped) {
        const size_t total = first.Bytes.size();
        const size_t head = std::min(total, static_cast<size_t>(ChunkAt(control, 1)));
        const size_t skip = std::min(total - head, static_cast<size_t>(ChunkAt(control, 2) + (control & 7)));
        std::vector<uint8_t> again(head);
        stream.ReadBuffer(again.data(), static_cast<int32_t>(head));
        if (stream.Seek(static_cast<int32_t>(skip), TSeekOrigin::soCurrent) != static_cast<int32_t>(head + skip))
            Finding("forward seek landed elsewhere");
        TStreamResult rest;
        Drain(stream, static_cast<uint8_t>(control + 1), static_cast<int64_t>(head + skip), rest);
        if (!std::equal(again.begin(), again.end(), first.Bytes.begin())) Finding("re-read start differs");
        if (rest.Bytes.size() != total - head - skip ||
            !std::equal(rest.Bytes.begin(), rest.Bytes.end(),
                        first.Bytes.begin() + static_cast<std::ptrdiff_t>(head + skip)))
            Finding("re-read after the skip differs");
        // Everything was read already, so a seek to the end finds nothing more.
        if (stream.Seek(0, TSeekOrigin::soEnd) != static_cast<int32_t>(total)) Finding("seek to end moved");
    }

    if (whole) {
        // A complete zlib stream: the stream reader must yield exactly the same bytes.
        if (first.Error) Finding("stream failed where InflateBuffer succeeded");
        if (first.Bytes.size() > whole->size() || !std::equal(first.Bytes.begin(), first.Bytes.end(), whole->begin()) ||
            (!first.Capped && first.Bytes.size() != whole->size()))
            Finding("stream and InflateBuffer disagree");
    } else if (wholeError != "buffer error" && wholeError != "insufficient memory" && !first.Capped) {
        // Damage that is not a mere early end must stop the stream too, with the same report.
        if (!first.Error || *first.Error != wholeError) Finding("InflateBuffer failed where the stream did not");
    }
    return 0;
}

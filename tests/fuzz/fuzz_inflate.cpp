// The zlib layer over arbitrary bytes: the buffer inflater and the inflating stream must agree.
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

// The stream has no size limit of its own; stop there rather than measure the machine.
constexpr size_t MaxStreamOutput = 64 * 1024 * 1024;

// Read sizes that cross the stream's 64 KiB input buffer and its 8 KiB skip pieces at odd places.
constexpr int32_t ChunkSizes[8] = {1, 3, 17, 255, 4096, 8193, 65535, 1 << 20};

struct TStreamResult {
    std::vector<uint8_t> Bytes;
    std::optional<std::string> Error;
    bool Capped = false;
};

int32_t ChunkAt(uint8_t control, size_t step) {
    return ChunkSizes[(control + step * (1 + (control >> 3))) % 8];
}

// Reads until the stream gives nothing more, appending to out; start is the stream's position beforehand.
void Drain(TZDecompressionStream& stream, uint8_t control, int64_t start, TStreamResult& out) {
    std::vector<uint8_t> chunk;
    for (size_t step = 0;; ++step) {
        if (out.Bytes.size() > MaxStreamOutput) {
            out.Capped = true;
            return;
        }
        const int32_t count = ChunkAt(control, step);
        chunk.resize(static_cast<size_t>(count));
        const int32_t n = stream.Read(chunk.data(), count);
        if (n < 0 || n > count) Finding("Read returned more than asked");
        if (stream.Position() != start + static_cast<int64_t>(out.Bytes.size()) + n)
            Finding("position is not bytes read");
        out.Bytes.insert(out.Bytes.end(), chunk.begin(), chunk.begin() + n);
        if (n == 0) return;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t control = data[0];
    const uint8_t* packed = data + 1;
    const int32_t packedSize = static_cast<int32_t>(size - 1);

    std::optional<std::vector<uint8_t>> whole;
    std::string wholeError;
    try {
        void* out = nullptr;
        int32_t outSize = 0;
        InflateBuffer(packed, packedSize, out, outSize, 0);
        if ((outSize == 0) != (out == nullptr)) Finding("InflateBuffer block and size disagree");
        const uint8_t* bytes = static_cast<const uint8_t*>(out);
        whole.emplace(bytes, bytes + outSize);
        std::free(out);
    } catch (const EZDecompressionError& e) {
        wholeError = e.Message();
    }

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
        if (!first.Capped && first.Bytes != *whole) Finding("stream and InflateBuffer disagree");
    } else if (wholeError != "buffer error" && wholeError != "insufficient memory" && !first.Capped) {
        // Damage that is not a mere early end must stop the stream too, with the same report.
        if (!first.Error || *first.Error != wholeError) Finding("InflateBuffer failed where the stream did not");
    }
    return 0;
}

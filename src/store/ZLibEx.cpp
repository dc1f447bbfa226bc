#include "ZLibEx.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

namespace {

const char* const ZErrorMessages[10] = {
    "need dictionary", "stream end",           "", "file error", "stream error", "data error", "insufficient memory",
    "buffer error",    "incompatible version", "",
};

// zlib 1.1.4 reports a preset dictionary once with Z_NEED_DICT and fails the next call with Z_STREAM_ERROR;
// later versions repeat Z_NEED_DICT forever, which would make the inflate loops spin. Fail at once instead.
// With allowNoProgress, Z_BUF_ERROR (inflate can make no progress) is returned instead of raised.
int InflateStep(z_stream& zrec, bool allowNoProgress = false) {
    int result = inflate(&zrec, Z_NO_FLUSH);
    if (result == Z_NEED_DICT) result = Z_STREAM_ERROR;
    if (allowNoProgress && result == Z_BUF_ERROR) return result;
    return CheckInflateResult(result);
}

struct MallocBlock {
    void* Ptr = nullptr;
    ~MallocBlock() { std::free(Ptr); }
};

// One inflate state; ended on every way out.
class TInflater {
public:
    TInflater() { CheckInflateResult(inflateInit(&Z)); }
    ~TInflater() {
        if (!FEnded) inflateEnd(&Z);
    }
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;
    void End() {
        FEnded = true;
        CheckInflateResult(inflateEnd(&Z));
    }
    z_stream Z{};

private:
    bool FEnded = false;
};

// The compressed input: one block given whole, or the next bytes of a stream read in pieces.
class TInflateInput {
public:
    TInflateInput(const void* data, int32_t size) : FWhole(static_cast<const Bytef*>(data)), FWholeSize(size) {}
    TInflateInput(TStream& source, int64_t size) : FSource(&source), FRemaining(std::max<int64_t>(size, 0)) {}

    // Gives zlib the next piece once it has taken the last.
    void Refill(z_stream& z) {
        if (z.avail_in != 0) return;
        if (FWhole) {
            z.next_in = const_cast<Bytef*>(FWhole);
            z.avail_in = static_cast<uInt>(FWholeSize);
            FWhole = nullptr;
        } else if (FRemaining > 0) {
            if (!FPiece) FPiece = std::make_unique_for_overwrite<Bytef[]>(InputPiece);
            const auto n = static_cast<int32_t>(std::min<int64_t>(FRemaining, InputPiece));
            FSource->ReadBuffer(FPiece.get(), n);
            FRemaining -= n;
            z.next_in = FPiece.get();
            z.avail_in = static_cast<uInt>(n);
        }
    }
    bool Pending() const { return FWhole || FRemaining > 0; }

private:
    static constexpr int32_t InputPiece = 64 * 1024;
    const Bytef* FWhole = nullptr;
    int32_t FWholeSize = 0;
    TStream* FSource = nullptr;
    int64_t FRemaining = 0;
    std::unique_ptr<Bytef[]> FPiece;
};

// Inflates into one block that starts at firstGuess bytes and doubles, so that a highly compressible item costs a
// logarithmic number of reallocations rather than one per input-sized step; output beyond maxSize raises
// "insufficient memory".
void InflateToBlock(TInflateInput& input, int64_t firstGuess, int32_t maxSize, void*& outBuffer, int32_t& outSize) {
    outBuffer = nullptr;
    outSize = 0;
    int64_t capacity = std::clamp<int64_t>(firstGuess, 256, std::max(maxSize, 256));

    MallocBlock block;
    block.Ptr = std::malloc(static_cast<size_t>(capacity));
    if (!block.Ptr) CheckInflateResult(Z_MEM_ERROR);

    TInflater inflater;
    z_stream& zrec = inflater.Z;
    zrec.next_out = static_cast<Bytef*>(block.Ptr);
    zrec.avail_out = static_cast<uInt>(capacity);
    for (;;) {
        input.Refill(zrec);
        const int result = InflateStep(zrec, true);
        if (result == Z_STREAM_END) break;
        // No progress with room to spare: the input has run out before the stream's end.
        if (result == Z_BUF_ERROR && zrec.avail_out != 0) CheckInflateResult(result);
        if (zrec.avail_out != 0) continue;
        // The last piece may end the stream without needing more room; see it before growing.
        if (zrec.avail_in == 0 && input.Pending()) continue;
        if (capacity >= maxSize) CheckInflateResult(Z_MEM_ERROR);
        const int64_t produced = capacity - zrec.avail_out;
        const int64_t grown = std::min<int64_t>(capacity * 2, maxSize);
        void* bigger = std::realloc(block.Ptr, static_cast<size_t>(grown));
        if (!bigger) CheckInflateResult(Z_MEM_ERROR);
        block.Ptr = bigger;
        zrec.next_out = static_cast<Bytef*>(block.Ptr) + produced;
        zrec.avail_out = static_cast<uInt>(grown - produced);
        capacity = grown;
    }
    const int64_t produced = capacity - zrec.avail_out;
    inflater.End();

    if (produced == 0) return; // the block is freed; an empty item has no data
    void* shrunk = std::realloc(block.Ptr, static_cast<size_t>(produced));
    if (shrunk) block.Ptr = shrunk;
    outBuffer = std::exchange(block.Ptr, nullptr);
    outSize = static_cast<int32_t>(produced);
}

} // namespace

int CheckInflateResult(int code) {
    if (code < 0) {
        int index = 2 - code;
        throw EZDecompressionError(index >= 0 && index < 10 ? ZErrorMessages[index] : "");
    }
    return code;
}

void InflateBuffer(const void* inBuffer, int32_t inSize, void*& outBuffer, int32_t& outSize, int32_t outEstimate) {
    if (inSize < 0) inSize = 0;
    TInflateInput input(inBuffer, inSize);
    InflateToBlock(input, outEstimate > 0 ? outEstimate : (static_cast<int64_t>(inSize) + 255) / 256 * 256,
                   MaxInflatedSize, outBuffer, outSize);
}

void InflateStreamToBuffer(TStream& source, int64_t inSize, void*& outBuffer, int32_t& outSize, int32_t maxSize) {
    TInflateInput input(source, inSize);
    InflateToBlock(input, (std::max<int64_t>(inSize, 0) + 255) / 256 * 256, maxSize, outBuffer, outSize);
}

int64_t InflateStreamToStream(TStream& source, int64_t inSize, TStream& out) {
    constexpr int32_t OutputPiece = 256 * 1024;
    TInflateInput input(source, inSize);
    const auto piece = std::make_unique_for_overwrite<Bytef[]>(OutputPiece);
    TInflater inflater;
    z_stream& zrec = inflater.Z;
    int64_t written = 0;
    for (int result = Z_OK; result != Z_STREAM_END;) {
        input.Refill(zrec);
        zrec.next_out = piece.get();
        zrec.avail_out = OutputPiece;
        // With all the room it could want, no progress means the input has run out: "buffer error".
        result = InflateStep(zrec);
        const int32_t produced = OutputPiece - static_cast<int32_t>(zrec.avail_out);
        out.WriteBuffer(piece.get(), produced);
        written += produced;
    }
    inflater.End();
    return written;
}

TCustomZStream::TCustomZStream(TStream& source) : FStream(source), FStreamPos(source.Position()) {
    std::memset(&FZRec, 0, sizeof(FZRec));
}

void TCustomZStream::DoRefill() {
    if (OnRefill) OnRefill(*this);
}

TZDecompressionStream::TZDecompressionStream(TStream& source) : TCustomZStream(source) {
    FZRec.next_in = FBuffer;
    FZRec.avail_in = 0;
    CheckInflateResult(inflateInit(&FZRec));
}

TZDecompressionStream::~TZDecompressionStream() {
    inflateEnd(&FZRec);
}

int32_t TZDecompressionStream::Read(void* buffer, int32_t count) {
    if (count <= 0) return 0;
    FZRec.next_out = static_cast<Bytef*>(buffer);
    FZRec.avail_out = static_cast<uInt>(count);
    if (FStream.Position() != FStreamPos) FStream.SetPosition(FStreamPos);

    while (FZRec.avail_out > 0 && !FStreamEnd) {
        bool sourceExhausted = false;
        if (FZRec.avail_in == 0) {
            int32_t n = FStream.Read(FBuffer, sizeof(FBuffer));
            if (n > 0) {
                FZRec.next_in = FBuffer;
                FZRec.avail_in = static_cast<uInt>(n);
                FStreamPos = FStream.Position();
                DoRefill();
            }
            sourceExhausted = n <= 0;
        }
        // With the source exhausted inflate may still hold output of input it has already taken (a match cut
        // off by the room): it is handed out, so that what a read returns does not depend on earlier read sizes.
        int result = InflateStep(FZRec, sourceExhausted);
        if (result == Z_BUF_ERROR) break;
        FStreamEnd = result == Z_STREAM_END;
    }

    // Leave the source on the first byte behind the zlib stream.
    if (FStreamEnd && FZRec.avail_in > 0) {
        FStream.Seek64(-static_cast<int64_t>(FZRec.avail_in), TSeekOrigin::soCurrent);
        FStreamPos = FStream.Position();
        FZRec.avail_in = 0;
    }
    return count - static_cast<int32_t>(FZRec.avail_out);
}

int32_t TZDecompressionStream::Write(const void*, int32_t) {
    throw EZDecompressionError("Invalid ZStream operation!");
}

namespace {
// A seek forward inflates and drops what it passes. The scratch blocks live here rather than in Seek, which every
// Position() call reaches, so that a position query does not set up 16 KiB of stack.
[[gnu::noinline]] void DiscardForward(TStream& stream, int64_t distance) {
    uint8_t scratch[8192];
    while (distance > 0) {
        const int32_t piece = distance > static_cast<int64_t>(sizeof(scratch)) ? static_cast<int32_t>(sizeof(scratch))
                                                                               : static_cast<int32_t>(distance);
        stream.ReadBuffer(scratch, piece);
        distance -= piece;
    }
}

[[gnu::noinline]] void DiscardToEnd(TStream& stream) {
    uint8_t scratch[8192];
    while (stream.Read(scratch, sizeof(scratch)) != 0) {
    }
}
} // namespace

int64_t TZDecompressionStream::Seek64(int64_t offset, TSeekOrigin origin) {
    if (offset > std::numeric_limits<int32_t>::max() || offset < std::numeric_limits<int32_t>::min())
        throw ERangeError("Range check error");
    return Seek(static_cast<int32_t>(offset), origin);
}

int32_t TZDecompressionStream::Seek(int32_t offset, TSeekOrigin origin) {
    const int64_t position = static_cast<int64_t>(FZRec.total_out);
    if (offset == 0 && origin == TSeekOrigin::soBeginning) {
        CheckInflateResult(inflateReset(&FZRec));
        FZRec.next_in = FBuffer;
        FZRec.avail_in = 0;
        FStreamEnd = false;
        FStream.SetPosition(0);
        FStreamPos = 0;
    } else if ((origin == TSeekOrigin::soCurrent && offset >= 0) ||
               (origin == TSeekOrigin::soBeginning && offset > position)) {
        DiscardForward(*this, origin == TSeekOrigin::soBeginning ? offset - position : offset);
    } else if (offset == 0 && origin == TSeekOrigin::soEnd) {
        DiscardToEnd(*this);
    } else {
        throw EZDecompressionError("Invalid ZStream operation!");
    }
    return static_cast<int32_t>(FZRec.total_out);
}

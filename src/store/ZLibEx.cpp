#include "ZLibEx.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

const char* const ZErrorMessages[10] = {
    "need dictionary", "stream end", "", "file error", "stream error", "data error", "insufficient memory",
    "buffer error", "incompatible version", "",
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

} // namespace

int CheckInflateResult(int code) {
    if (code < 0) {
        int index = 2 - code;
        throw EZDecompressionError(index >= 0 && index < 10 ? ZErrorMessages[index] : "");
    }
    return code;
}

void InflateBuffer(const void* inBuffer, int32_t inSize, void*& outBuffer, int32_t& outSize, int32_t outEstimate) {
    outBuffer = nullptr;
    outSize = 0;
    if (inSize < 0) inSize = 0;
    // The first guess follows the input size; after that the block doubles, so that a highly compressible item
    // costs a logarithmic number of reallocations rather than one per input-sized step.
    int64_t capacity = outEstimate > 0 ? outEstimate : (static_cast<int64_t>(inSize) + 255) / 256 * 256;
    if (capacity == 0) capacity = 256;
    if (capacity > MaxInflatedSize) capacity = MaxInflatedSize;

    MallocBlock block;
    block.Ptr = std::malloc(static_cast<size_t>(capacity));
    if (!block.Ptr) CheckInflateResult(Z_MEM_ERROR);

    z_stream zrec;
    std::memset(&zrec, 0, sizeof(zrec));
    zrec.next_in = static_cast<Bytef*>(const_cast<void*>(inBuffer));
    zrec.avail_in = static_cast<uInt>(inSize);
    zrec.next_out = static_cast<Bytef*>(block.Ptr);
    zrec.avail_out = static_cast<uInt>(capacity);
    CheckInflateResult(inflateInit(&zrec));

    int64_t produced = 0;
    try {
        while (InflateStep(zrec) != Z_STREAM_END) {
            produced = capacity - zrec.avail_out;
            if (zrec.avail_out != 0) continue; // more input is needed; the next step reports "buffer error"
            if (capacity >= MaxInflatedSize) CheckInflateResult(Z_MEM_ERROR);
            int64_t grown = capacity * 2 > MaxInflatedSize ? MaxInflatedSize : capacity * 2;
            void* bigger = std::realloc(block.Ptr, static_cast<size_t>(grown));
            if (!bigger) CheckInflateResult(Z_MEM_ERROR);
            block.Ptr = bigger;
            zrec.next_out = static_cast<Bytef*>(block.Ptr) + produced;
            zrec.avail_out = static_cast<uInt>(grown - produced);
            capacity = grown;
        }
        produced = capacity - zrec.avail_out;
    } catch (...) {
        inflateEnd(&zrec);
        throw;
    }
    CheckInflateResult(inflateEnd(&zrec));

    if (produced == 0) return; // the block is freed; an empty item has no data
    void* shrunk = std::realloc(block.Ptr, static_cast<size_t>(produced));
    if (shrunk) block.Ptr = shrunk;
    outBuffer = std::exchange(block.Ptr, nullptr);
    outSize = static_cast<int32_t>(produced);
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

TZDecompressionStream::~TZDecompressionStream() { inflateEnd(&FZRec); }

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
        int64_t distance = origin == TSeekOrigin::soBeginning ? offset - position : offset;
        uint8_t scratch[8192];
        while (distance > 0) {
            int32_t piece = distance > static_cast<int64_t>(sizeof(scratch)) ? static_cast<int32_t>(sizeof(scratch))
                                                                               : static_cast<int32_t>(distance);
            ReadBuffer(scratch, piece);
            distance -= piece;
        }
    } else if (offset == 0 && origin == TSeekOrigin::soEnd) {
        uint8_t scratch[8192];
        while (Read(scratch, sizeof(scratch)) != 0) {
        }
    } else {
        throw EZDecompressionError("Invalid ZStream operation!");
    }
    return static_cast<int32_t>(FZRec.total_out);
}

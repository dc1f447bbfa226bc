// The layer over zlib through which all compressed data of the program is inflated.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <zlib.h>

#include "../forms/Classes.h"

class EZLibError : public Exception {
    using Exception::Exception;
};
class EZDecompressionError : public EZLibError {
    using EZLibError::EZLibError;
};

// A 32-bit process has about 2 GiB of address space: an item inflated into memory may not grow beyond this.
// Items streamed to a file (InflateStreamToStream) are not bound by it.
inline constexpr int32_t MaxInflatedSize = 256 * 1024 * 1024;

// Returns code when it is 0 or more; raises EZDecompressionError with zlib's message for it otherwise.
int CheckInflateResult(int code);

// Inflates one complete zlib stream. On success outBuffer is a new block from malloc (the caller frees it with
// free; null when outSize is 0) holding exactly outSize bytes. outEstimate is a first guess of the size, 0 for none.
// Raises EZDecompressionError ("data error", "buffer error", ...) with nothing allocated; output beyond
// MaxInflatedSize raises "insufficient memory".
void InflateBuffer(const void* inBuffer, int32_t inSize, void*& outBuffer, int32_t& outSize, int32_t outEstimate = 0);

// InflateBuffer over the next inSize bytes of source, read in pieces so that they are never held whole: the same
// block, the same errors, with output beyond maxSize raising "insufficient memory".
void InflateStreamToBuffer(TStream& source, int64_t inSize, void*& outBuffer, int32_t& outSize,
                           int32_t maxSize = MaxInflatedSize);

// Inflates the zlib stream in the next inSize bytes of source into out, both sides in pieces, so that memory does
// not grow with the data; returns the bytes written. Raises the errors InflateBuffer raises for the same bytes (no
// size limit applies) and whatever out raises; what was inflated before an error has been written.
int64_t InflateStreamToStream(TStream& source, int64_t inSize, TStream& out);

class TCustomZStream : public TStream {
public:
    std::function<void(TCustomZStream&)> OnRefill;

protected:
    explicit TCustomZStream(TStream& source);
    virtual void DoRefill();

    TStream& FStream;
    int64_t FStreamPos;
    z_stream FZRec;
    uint8_t FBuffer[65536];
};

// Reads a zlib stream from a source stream on demand. Moving backwards is possible only to position 0.
class TZDecompressionStream : public TCustomZStream {
public:
    // The source stands on the first byte of the zlib stream; it stays the caller's.
    explicit TZDecompressionStream(TStream& source);
    ~TZDecompressionStream() override;
    TZDecompressionStream(const TZDecompressionStream&) = delete;
    TZDecompressionStream& operator=(const TZDecompressionStream&) = delete;

    int32_t Read(void* buffer, int32_t count) override;
    // Always raises EZDecompressionError "Invalid ZStream operation!".
    int32_t Write(const void* buffer, int32_t count) override;
    int32_t Seek(int32_t offset, TSeekOrigin origin) override;
    // The 32-bit seek's; offsets outside the 32-bit range raise ERangeError.
    int64_t Seek64(int64_t offset, TSeekOrigin origin) override;

private:
    bool FStreamEnd = false;
};

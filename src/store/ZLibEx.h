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

// A 32-bit process has about 2 GiB of address space, and the movie is held in memory once inflated and once
// more while it is written out: a single item may not inflate to more than this.
inline constexpr int32_t MaxInflatedSize = 256 * 1024 * 1024;

// Returns code when it is 0 or more; raises EZDecompressionError with zlib's message for it otherwise.
int CheckInflateResult(int code);

// Inflates one complete zlib stream. On success outBuffer is a new block from malloc (the caller frees it with
// free; null when outSize is 0) holding exactly outSize bytes. outEstimate is a first guess of the size, 0 for none.
// Raises EZDecompressionError ("data error", "buffer error", ...) with nothing allocated; output beyond
// MaxInflatedSize raises "insufficient memory".
void InflateBuffer(const void* inBuffer, int32_t inSize, void*& outBuffer, int32_t& outSize, int32_t outEstimate = 0);

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

private:
    bool FStreamEnd = false;
};

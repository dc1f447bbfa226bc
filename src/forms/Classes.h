// Byte streams: the abstract stream every reader works on, and a growable memory stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "SysUtils.h"

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// Virtual operations: size query, size change (32 and 64 bit), read, write, 32-bit seek, 64-bit seek. Every stream
// implements the 64-bit seek; the 32-bit one forwards to it unless a stream replaces it too.
class TStream {
public:
    virtual ~TStream() = default;

    // Notes the position, seeks to the end and seeks back to the noted position from the beginning.
    virtual int64_t GetSize();
    virtual void SetSize(int32_t newSize) { SetSize64(newSize); }
    virtual void SetSize64(int64_t newSize);
    // Returns the number of bytes moved; fewer than count only at the end of the data.
    virtual int32_t Read(void* buffer, int32_t count) = 0;
    virtual int32_t Write(const void* buffer, int32_t count) = 0;
    // Raises ERangeError when the new position is outside the 32-bit range.
    virtual int32_t Seek(int32_t offset, TSeekOrigin origin);
    virtual int64_t Seek64(int64_t offset, TSeekOrigin origin) = 0;

    int64_t Position() { return Seek64(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t position) { Seek64(position, TSeekOrigin::soBeginning); }

    // Exact transfers: EReadError "Stream read error" / EWriteError "Stream write error" when short.
    void ReadBuffer(void* buffer, int32_t count);
    void WriteBuffer(const void* buffer, int32_t count);
    // Copies count bytes from source (all of it from its start when count is 0); returns the count.
    int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream over a heap block it owns. Reading past the end yields nothing; writing past the end grows it.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek64(int64_t offset, TSeekOrigin origin) override;
    int64_t GetSize() override { return Length(); }
    int64_t Length() const { return static_cast<int64_t>(FData.size()); }
    void SetSize64(int64_t newSize) override;

    void Clear();
    // Reads the whole remainder of source from its current position; raises EOutOfMemory when it cannot hold it.
    void LoadFromStream(TStream& source);
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);

    uint8_t* Memory() { return FData.data(); }
    const uint8_t* Memory() const { return FData.data(); }

private:
    std::vector<uint8_t> FData;
    int64_t FPosition = 0;
};

// A stream over an operating-system file handle that it owns.
#pragma once

#include <string>

#include "Classes.h"
#include "Handles.h"

enum class TFileMode {
    fmOpenRead,          // read access, others may read
    fmOpenReadDenyNone,  // read access, others may read, write and delete
    fmOpenReadExclusive, // read access, no other opening of the file meanwhile (Windows only; read elsewhere)
    fmCreate,            // create or truncate, read and write access
    fmCreateNew,         // create a file that must not exist yet (never through a link), read and write access
};

class TFileStream : public TStream {
public:
    // Raises EFOpenError naming the file when it cannot be opened or created.
    TFileStream(const std::string& fileName, TFileMode mode);
    ~TFileStream() override = default;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek64(int64_t offset, TSeekOrigin origin) override;
    void SetSize64(int64_t newSize) override;

    const std::string& FileName() const { return FFileName; }

private:
    std::string FFileName;
#ifdef _WIN32
    UniqueFileHandle FHandle;
#else
    UniqueFd FHandle;
#endif
};

// True when a file (not a directory) of that name exists.
bool FileExists(const std::string& fileName);
// True when a directory of that name exists.
bool DirectoryExists(const std::string& path);

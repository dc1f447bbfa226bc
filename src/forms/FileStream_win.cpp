#include <windows.h>

#include "FileStream.h"

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) : FFileName(fileName) {
    DWORD access = GENERIC_READ;
    DWORD share = FILE_SHARE_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
    case TFileMode::fmOpenRead:
        break;
    case TFileMode::fmOpenReadDenyNone:
        share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        break;
    case TFileMode::fmOpenReadExclusive:
        share = 0;
        break;
    case TFileMode::fmCreate:
        access = GENERIC_READ | GENERIC_WRITE;
        share = 0;
        disposition = CREATE_ALWAYS;
        break;
    case TFileMode::fmCreateNew:
        access = GENERIC_READ | GENERIC_WRITE;
        share = 0;
        disposition = CREATE_NEW;
        break;
    }
    FHandle.reset(CreateFileA(fileName.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!FHandle) {
        const bool create = mode == TFileMode::fmCreate || mode == TFileMode::fmCreateNew;
        throw EFOpenError(std::string(create ? "Cannot create file \"" : "Cannot open file \"") + fileName + "\"");
    }
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
    if (count <= 0) return 0;
    DWORD n = 0;
    if (!ReadFile(FHandle.get(), buffer, static_cast<DWORD>(count), &n, nullptr)) return 0;
    return static_cast<int32_t>(n);
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
    if (count <= 0) return 0;
    DWORD n = 0;
    if (!WriteFile(FHandle.get(), buffer, static_cast<DWORD>(count), &n, nullptr)) return 0;
    return static_cast<int32_t>(n);
}

int64_t TFileStream::Seek64(int64_t offset, TSeekOrigin origin) {
    DWORD method = origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                   : origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                      : FILE_END;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER result;
    if (!SetFilePointerEx(FHandle.get(), distance, &result, method)) return -1;
    return result.QuadPart;
}

void TFileStream::SetSize64(int64_t newSize) {
    int64_t pos = Position();
    if (Seek64(newSize, TSeekOrigin::soBeginning) != newSize || !SetEndOfFile(FHandle.get()))
        throw EWriteError("Cannot change the size of \"" + FFileName + "\"");
    if (pos < newSize) SetPosition(pos);
}

bool FileExists(const std::string& fileName) {
    DWORD attributes = GetFileAttributesA(fileName.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

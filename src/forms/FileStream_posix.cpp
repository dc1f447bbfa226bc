#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileStream.h"

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) : FFileName(fileName) {
    const bool create = mode == TFileMode::fmCreate || mode == TFileMode::fmCreateNew;
    int flags = mode == TFileMode::fmCreate      ? (O_RDWR | O_CREAT | O_TRUNC)
                : mode == TFileMode::fmCreateNew ? (O_RDWR | O_CREAT | O_EXCL)
                                                 : O_RDONLY;
    FHandle.reset(::open(fileName.c_str(), flags | O_CLOEXEC, 0644));
    if (!FHandle)
        throw EFOpenError(std::string(create ? "Cannot create file \"" : "Cannot open file \"") + fileName + "\"");
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
    if (count <= 0) return 0;
    int32_t done = 0;
    while (done < count) {
        ssize_t n = ::read(FHandle.get(), static_cast<char*>(buffer) + done, static_cast<size_t>(count - done));
        if (n <= 0) break;
        done += static_cast<int32_t>(n);
    }
    return done;
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
    if (count <= 0) return 0;
    int32_t done = 0;
    while (done < count) {
        ssize_t n = ::write(FHandle.get(), static_cast<const char*>(buffer) + done, static_cast<size_t>(count - done));
        if (n <= 0) break;
        done += static_cast<int32_t>(n);
    }
    return done;
}

int64_t TFileStream::Seek64(int64_t offset, TSeekOrigin origin) {
    int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
    off_t result = ::lseek(FHandle.get(), static_cast<off_t>(offset), whence);
    return result < 0 ? -1 : static_cast<int64_t>(result);
}

void TFileStream::SetSize64(int64_t newSize) {
    if (::ftruncate(FHandle.get(), static_cast<off_t>(newSize)) != 0)
        throw EWriteError("Cannot change the size of \"" + FFileName + "\"");
}

bool FileExists(const std::string& fileName) {
    struct stat st;
    return ::stat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

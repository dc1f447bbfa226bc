#include "Classes.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "FileStream.h"

int64_t TStream::GetSize() {
    int64_t pos = Seek64(0, TSeekOrigin::soCurrent);
    int64_t size = Seek64(0, TSeekOrigin::soEnd);
    Seek64(pos, TSeekOrigin::soBeginning);
    return size;
}

void TStream::SetSize64(int64_t) {
    throw EStreamError("Stream size cannot be changed");
}

int32_t TStream::Seek(int32_t offset, TSeekOrigin origin) {
    int64_t result = Seek64(offset, origin);
    if (result > std::numeric_limits<int32_t>::max() || result < std::numeric_limits<int32_t>::min())
        throw ERangeError("Range check error");
    return static_cast<int32_t>(result);
}

void TStream::ReadBuffer(void* buffer, int32_t count) {
    if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
    if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.GetSize();
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, 64 * 1024)));
    int64_t left = count;
    while (left > 0) {
        int32_t n = static_cast<int32_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer.size())));
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        left -= n;
    }
    return count;
}

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
    int64_t size = GetSize();
    if (count <= 0 || FPosition >= size) return 0;
    int32_t n = static_cast<int32_t>(std::min<int64_t>(count, size - FPosition));
    std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
    if (count <= 0) return 0;
    int64_t end = FPosition + count;
    if (end > GetSize()) SetSize64(end);
    std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
    FPosition = end;
    return count;
}

int64_t TMemoryStream::Seek64(int64_t offset, TSeekOrigin origin) {
    switch (origin) {
    case TSeekOrigin::soBeginning:
        FPosition = offset;
        break;
    case TSeekOrigin::soCurrent:
        FPosition += offset;
        break;
    case TSeekOrigin::soEnd:
        FPosition = GetSize() + offset;
        break;
    }
    if (FPosition < 0) FPosition = 0;
    return FPosition;
}

void TMemoryStream::SetSize64(int64_t newSize) {
    if (newSize < 0) newSize = 0;
    if (static_cast<uint64_t>(newSize) > FData.max_size()) throw EOutOfMemory();
    try {
        FData.resize(static_cast<size_t>(newSize));
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    } catch (const std::length_error&) {
        throw EOutOfMemory();
    }
    if (FPosition > newSize) FPosition = newSize;
}

void TMemoryStream::Clear() {
    FData.clear();
    FData.shrink_to_fit();
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
    int64_t remaining = source.GetSize() - source.Position();
    if (remaining < 0) remaining = 0;
    Clear();
    SetSize64(remaining);
    int64_t done = 0;
    while (done < remaining) {
        int32_t n = static_cast<int32_t>(std::min<int64_t>(remaining - done, 1 << 30));
        source.ReadBuffer(FData.data() + done, n);
        done += n;
    }
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, TFileMode::fmOpenRead);
    LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
    TFileStream file(fileName, TFileMode::fmCreate);
    int64_t done = 0;
    int64_t size = GetSize();
    while (done < size) {
        int32_t n = static_cast<int32_t>(std::min<int64_t>(size - done, 1 << 30));
        file.WriteBuffer(FData.data() + done, n);
        done += n;
    }
}

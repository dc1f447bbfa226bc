#include "uPEUtils.h"

#include <cstddef>
#include <limits>

#include "../forms/FileStream.h"

namespace {
constexpr uint16_t DosSignature = 0x5A4D;    // "MZ"
constexpr uint32_t NtSignature = 0x00004550; // "PE\0\0"

[[noreturn]] void BadSignature() {
    throw EImageBlockException("Bad Signature");
}

// A block reads what the file supplies of it; the rest reads as zero.
int64_t SuppliedBytes(int64_t fileSize, int64_t offset, int64_t size) {
    return size <= 0 ? 0 : std::clamp<int64_t>(fileSize - offset, 0, size);
}

// Real sections do not overlap, so their raw data together fit in the file; a table whose sections claim more
// would make the copies grow with the section count alone.
void CheckSectionBytes(int64_t sectionBytes, int64_t fileSize) {
    if (sectionBytes > fileSize) throw EImageBlockException("Section data exceeds the file");
}

void ReadZeroFilled(TStream& stream, int64_t offset, void* buffer, int32_t count) {
    std::memset(buffer, 0, static_cast<size_t>(count));
    stream.SetPosition(offset);
    const int32_t n = static_cast<int32_t>(SuppliedBytes(stream.GetSize(), offset, count));
    if (n > 0) stream.ReadBuffer(buffer, n);
}

uint32_t Get32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}
} // namespace

void TImageBlock::ReadFromStream(TStream& stream, int64_t offset, int64_t size) {
    if (size <= 0) {
        FBytes.Clear();
        FSize = 0;
        return;
    }
    if (offset >= 0) stream.SetPosition(offset);
    const int64_t count = SuppliedBytes(stream.GetSize(), stream.Position(), size);
    // Only what the file really supplies is held; the rest of the block reads as zero through the views and is
    // written back as zeros, so a size taken from a damaged header cannot make the block outgrow the file.
    FBytes.Clear();
    FBytes.SetSize64(count);
    int64_t done = 0;
    while (done < count) {
        int32_t piece = static_cast<int32_t>(std::min<int64_t>(count - done, 1 << 30));
        stream.ReadBuffer(FBytes.Memory() + done, piece);
        done += piece;
    }
    FSize = size;
}

void TImageBlock::WriteToStream(TStream& stream, int64_t offset) {
    if (FSize == 0) return;
    int64_t end = offset > 0 ? FSize + offset : FSize;
    if (stream.GetSize() < end) stream.SetSize64(end);
    if (offset >= 0) stream.SetPosition(offset);
    int64_t start = stream.Position();
    int64_t stored = StoredSize();
    int64_t done = 0;
    while (done < stored) {
        int32_t piece = static_cast<int32_t>(std::min<int64_t>(stored - done, 1 << 30));
        stream.WriteBuffer(FBytes.Memory() + done, piece);
        done += piece;
    }
    if (stored < FSize) {
        if (stream.GetSize() < start + FSize) stream.SetSize64(start + FSize);
        stream.SetPosition(start + FSize);
    }
}

void TNTHeaders::ReadFromStream(TStream& stream, int64_t offset, int64_t size) {
    TImageBlock::ReadFromStream(stream, offset, size);
    FSizeOfImage = Headers().SizeOfImage;
}

TDataBlock::TDataBlock(TPEImage* image, int64_t size, int64_t offset, TStream& stream)
    : TImageBlock(image), FOffset(offset) {
    ReadFromStream(stream, offset, size);
}

void TDataBlock::WriteToStream(TStream& stream, int64_t offset) {
    TImageBlock::WriteToStream(stream, offset < 0 ? FOffset : offset);
}

TSectionData::TSectionData(TPEImage* image, int64_t size, int64_t offset, TStream& stream, TSectionHeader* header)
    : TDataBlock(image, offset), FHeader(header), FCreatedSize(size) {
    ReadFromStream(stream, offset, size);
}

void TSectionData::ReadFromStream(TStream& stream, int64_t offset, int64_t size) {
    FRequestedSize = size;
    TDataBlock::ReadFromStream(stream, offset, size);
}

TSectionHeader::TSectionHeader(TPEImage* image, TStream& stream, int64_t offset) : TImageBlock(image) {
    FSize = BlockSize;
    LoadFromStream(stream, offset);
}

void TSectionHeader::LoadFromStream(TStream& stream, int64_t offset) {
    TImageBlock::LoadFromStream(stream, offset);
    TImageSectionHeader header = Header();
    FData = std::make_unique<TSectionData>(FImage, header.SizeOfRawData, header.PointerToRawData, stream, this);
}

void TSectionHeader::WriteToStream(TStream& stream, int64_t offset) {
    TImageBlock::WriteToStream(stream, offset);
    FData->WriteToStream(stream, Header().PointerToRawData);
}

TPEImage::TPEImage(const std::string& fileName) : FFileName(fileName) {
    Load(fileName);
}

void TPEImage::Load(const std::string& fileName) {
    Clear();
    if (!FileExists(fileName)) return;

    TMemoryStream file;
    file.LoadFromFile(fileName);
    FFileSize = file.GetSize();

    FDOSHeader = std::make_unique<TDOSHeader>(this);
    FDOSHeader->ReadFromStream(file, 0, 256);
    TImageDosHeader dos = FDOSHeader->Header();
    if (dos.e_magic != DosSignature) BadSignature();
    // NT headers outside the file can only read as zeros and fail their signature: say so before the DOS
    // block is sized by a value that large.
    if (dos.e_lfanew < 0 || dos.e_lfanew > FFileSize) BadSignature();
    FDOSHeader->ReadFromStream(file, 0, dos.e_lfanew);

    FNTHeaders = std::make_unique<TNTHeaders>(this);
    FNTHeaders->ReadFromStream(file, dos.e_lfanew, TNTHeaders::BlockSize);
    if (FNTHeaders->Headers().Signature != NtSignature) BadSignature();
    const int32_t ntSize = TNTHeaders::BlockSizeFor(FNTHeaders->Headers().Magic);
    if (ntSize != TNTHeaders::BlockSize) FNTHeaders->ReadFromStream(file, dos.e_lfanew, ntSize);

    int64_t position = static_cast<int64_t>(dos.e_lfanew) + ntSize;
    uint32_t lowest = std::numeric_limits<uint32_t>::max();
    int64_t sectionBytes = 0;
    const uint16_t count = FNTHeaders->Headers().NumberOfSections;
    for (uint16_t i = 0; i < count; ++i) {
        if (position >= FFileSize) {
            // The rest of the table reads as zeros: sections at offset 0 without data, nothing worth an object.
            FSectionsBeyondFile = count - i;
            position += int64_t{TSectionHeader::BlockSize} * (count - i);
            lowest = 0;
            break;
        }
        auto section = std::make_unique<TSectionHeader>(this, file, position);
        sectionBytes += section->Data()->StoredSize();
        CheckSectionBytes(sectionBytes, FFileSize);
        lowest = std::min(lowest, section->Header().PointerToRawData);
        FSections.push_back(std::move(section));
        position += TSectionHeader::BlockSize;
    }

    int64_t gap = 0;
    if (!FSections.empty()) gap = std::max<int64_t>(0, std::min<int64_t>(int64_t{lowest}, FFileSize) - position);
    FHeaderGap = std::make_unique<TDataBlock>(this, gap, position, file);
}

void TPEImage::Clear() {
    FDOSHeader.reset();
    FNTHeaders.reset();
    FHeaderGap.reset();
    FSections.clear();
    FSectionsBeyondFile = 0;
}

uint32_t TPEImage::GetImageEnd() const {
    if (FSections.empty() || FSectionsBeyondFile > 0) return 0;
    TImageSectionHeader last = FSections.back()->Header();
    return last.PointerToRawData + last.SizeOfRawData;
}

void TPEImage::SaveToFile(const std::string& fileName) {
    TFileStream file(fileName, TFileMode::fmCreate);
    if (FDOSHeader) FDOSHeader->WriteToStream(file, 0);
    if (FNTHeaders) FNTHeaders->WriteToStream(file, -1);
    int64_t position = file.Position();
    for (auto& section : FSections) {
        section->WriteToStream(file, position);
        position += TSectionHeader::BlockSize;
    }
    // Headers beyond the loaded file were zeros and are written back as such.
    const int64_t tableEnd = position + int64_t{TSectionHeader::BlockSize} * static_cast<int64_t>(FSectionsBeyondFile);
    if (file.GetSize() < tableEnd) file.SetSize64(tableEnd);
    if (FHeaderGap) FHeaderGap->WriteToStream(file, -1);
    FFileSize = file.GetSize();
}

uint32_t ReadImageEnd(TStream& stream) {
    const int64_t fileSize = stream.GetSize();
    uint8_t dos[sizeof(TImageDosHeader)];
    ReadZeroFilled(stream, 0, dos, sizeof dos);
    if ((dos[0] | dos[1] << 8) != DosSignature) BadSignature();
    const auto lfaNew = static_cast<int32_t>(Get32(dos + offsetof(TImageDosHeader, e_lfanew)));
    if (lfaNew < 0 || lfaNew > fileSize) BadSignature();

    uint8_t nt[offsetof(TImageNtHeaders, Magic) + 2];
    ReadZeroFilled(stream, lfaNew, nt, sizeof nt);
    if (Get32(nt) != NtSignature) BadSignature();
    const int64_t count = nt[6] | nt[7] << 8;
    if (count == 0) return 0;
    const auto magic =
        static_cast<uint16_t>(nt[offsetof(TImageNtHeaders, Magic)] | nt[offsetof(TImageNtHeaders, Magic) + 1] << 8);

    // Only the headers the file holds are read; those beyond its end are zeros, which add no data and, as the
    // last in the table, end the image at 0.
    const int64_t tableStart = int64_t{lfaNew} + TNTHeaders::BlockSizeFor(magic);
    const int64_t inFile = std::clamp<int64_t>(
        (fileSize - tableStart + TSectionHeader::BlockSize - 1) / TSectionHeader::BlockSize, 0, count);
    std::vector<uint8_t> table(static_cast<size_t>(inFile * TSectionHeader::BlockSize));
    if (!table.empty()) ReadZeroFilled(stream, tableStart, table.data(), static_cast<int32_t>(table.size()));
    int64_t sectionBytes = 0;
    uint32_t end = 0;
    for (int64_t i = 0; i < inFile; ++i) {
        const uint8_t* header = table.data() + i * TSectionHeader::BlockSize;
        const uint32_t size = Get32(header + offsetof(TImageSectionHeader, SizeOfRawData));
        const uint32_t pointer = Get32(header + offsetof(TImageSectionHeader, PointerToRawData));
        sectionBytes += SuppliedBytes(fileSize, pointer, size);
        CheckSectionBytes(sectionBytes, fileSize);
        end = pointer + size;
    }
    return inFile == count ? end : 0;
}

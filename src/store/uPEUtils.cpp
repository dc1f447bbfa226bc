#include "uPEUtils.h"

#include <limits>

#include "../forms/FileStream.h"

namespace {
constexpr uint16_t DosSignature = 0x5A4D;   // "MZ"
constexpr uint32_t NtSignature = 0x00004550; // "PE\0\0"

[[noreturn]] void BadSignature() { throw EImageBlockException("Bad Signature"); }
} // namespace

void TImageBlock::ReadFromStream(TStream& stream, int64_t offset, int64_t size) {
    if (size <= 0) {
        FBytes.Clear();
        FSize = 0;
        return;
    }
    if (offset >= 0) stream.SetPosition(offset);
    int64_t remaining = stream.GetSize() - stream.Position();
    int64_t count = std::clamp<int64_t>(remaining, 0, size);
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

TPEImage::TPEImage(const std::string& fileName) : FFileName(fileName) { Load(fileName); }

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

    int64_t position = static_cast<int64_t>(dos.e_lfanew) + TNTHeaders::BlockSize;
    uint32_t lowest = std::numeric_limits<uint32_t>::max();
    int64_t sectionBytes = 0;
    for (uint16_t i = 0; i < FNTHeaders->Headers().NumberOfSections; ++i) {
        auto section = std::make_unique<TSectionHeader>(this, file, position);
        // Real sections do not overlap, so their raw data together fit in the file; a table whose sections
        // claim more would make the copies grow with the section count alone.
        sectionBytes += section->Data()->StoredSize();
        if (sectionBytes > FFileSize) throw EImageBlockException("Section data exceeds the file");
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
}

uint32_t TPEImage::GetImageEnd() const {
    if (FSections.empty()) return 0;
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
    if (FHeaderGap) FHeaderGap->WriteToStream(file, -1);
    FFileSize = file.GetSize();
}

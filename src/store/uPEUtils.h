// Reads a Windows executable (32-bit, or the 64-bit layout of the same program) into blocks (headers, section table,
// section data, header gap) that can be written back. The content store reader uses it to find where the executable
// image ends.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../forms/Classes.h"

class EImageBlockException : public EReadError {
    using EReadError::EReadError;
};

class TPEImage;

// Standard PE layouts, only the fields the reader interprets are named.
#pragma pack(push, 1)
struct TImageDosHeader {
    uint16_t e_magic;
    uint8_t reserved[58];
    int32_t e_lfanew;
};
struct TImageNtHeaders {
    uint32_t Signature;
    uint16_t Machine;
    uint16_t NumberOfSections;
    uint8_t fileHeaderRest[16];
    uint16_t Magic; // of the optional header: 0x10B for a 32-bit image, 0x20B for a 64-bit one
    uint8_t optionalHeaderStart[54];
    uint32_t SizeOfImage;
};
struct TImageSectionHeader {
    char Name[8];
    uint32_t VirtualSize;
    uint32_t VirtualAddress;
    uint32_t SizeOfRawData;
    uint32_t PointerToRawData;
    uint8_t rest[16];
};
#pragma pack(pop)
static_assert(sizeof(TImageDosHeader) == 64 && sizeof(TImageSectionHeader) == 40);
static_assert(offsetof(TImageNtHeaders, Magic) == 24 && offsetof(TImageNtHeaders, SizeOfImage) == 80);

class TImageBlock {
public:
    explicit TImageBlock(TPEImage* image) : FImage(image) {}
    virtual ~TImageBlock() = default;
    TImageBlock(const TImageBlock&) = delete;
    TImageBlock& operator=(const TImageBlock&) = delete;

    // Reads size bytes at offset (the current position when negative). Bytes beyond the stream's end are zero;
    // at most what the stream really holds is ever copied, so a huge size cannot outgrow the file.
    virtual void ReadFromStream(TStream& stream, int64_t offset, int64_t size);
    virtual void LoadFromStream(TStream& stream, int64_t offset) { ReadFromStream(stream, offset, FSize); }
    virtual void WriteToStream(TStream& stream, int64_t offset);

    // The size the block was read with; Bytes() holds the part of it the file supplied, the rest reads as zero.
    int64_t Size() const { return FSize; }
    int64_t StoredSize() const { return FBytes.Length(); }
    const uint8_t* Bytes() const { return FBytes.Memory(); }

protected:
    // Typed views read the block's bytes; they are zero-filled when the block is shorter than the view.
    template <typename T> T View() const {
        T value{};
        if (StoredSize() > 0)
            std::memcpy(&value, FBytes.Memory(), std::min<size_t>(sizeof(T), static_cast<size_t>(StoredSize())));
        return value;
    }

    TPEImage* FImage;
    TMemoryStream FBytes;
    int64_t FSize = 0;
};

class THeaderBlock : public TImageBlock {
    using TImageBlock::TImageBlock;
};

class TDOSHeader : public THeaderBlock {
public:
    using THeaderBlock::THeaderBlock;
    TImageDosHeader Header() const { return View<TImageDosHeader>(); }
};

class TNTHeaders : public THeaderBlock {
public:
    using THeaderBlock::THeaderBlock;
    static constexpr int32_t BlockSize = 248;
    // A 64-bit image's optional header is 16 bytes longer (its five stack and heap fields take 8 bytes each and
    // BaseOfData is gone), so its section table starts 16 bytes later.
    static constexpr int32_t BlockSize64 = 264;
    static constexpr uint16_t Magic64 = 0x20B;
    // The block's size for an image whose optional header has this magic.
    static constexpr int32_t BlockSizeFor(uint16_t magic) { return magic == Magic64 ? BlockSize64 : BlockSize; }
    TImageNtHeaders Headers() const { return View<TImageNtHeaders>(); }
    uint32_t SizeOfImage() const { return FSizeOfImage; }
    void ReadFromStream(TStream& stream, int64_t offset, int64_t size) override;

private:
    uint32_t FSizeOfImage = 0;
};

class TDataBlock : public TImageBlock {
public:
    TDataBlock(TPEImage* image, int64_t size, int64_t offset, TStream& stream);
    int64_t Offset() const { return FOffset; }
    // A negative offset writes the block at its own file offset.
    void WriteToStream(TStream& stream, int64_t offset) override;

protected:
    TDataBlock(TPEImage* image, int64_t offset) : TImageBlock(image), FOffset(offset) {}
    int64_t FOffset;
};

class TSectionHeader;

class TSectionData : public TDataBlock {
public:
    TSectionData(TPEImage* image, int64_t size, int64_t offset, TStream& stream, TSectionHeader* header);
    void ReadFromStream(TStream& stream, int64_t offset, int64_t size) override;
    int64_t CreatedSize() const { return FCreatedSize; }
    int64_t RequestedSize() const { return FRequestedSize; }
    TSectionHeader* Header() const { return FHeader; }

private:
    TSectionHeader* FHeader;
    int64_t FCreatedSize;
    int64_t FRequestedSize = 0;
};

class TSectionHeader : public TImageBlock {
public:
    static constexpr int32_t BlockSize = 40;
    // Reads the 40-byte header at offset, then its section data.
    TSectionHeader(TPEImage* image, TStream& stream, int64_t offset);
    void LoadFromStream(TStream& stream, int64_t offset) override;
    // Writes the header at offset, then the section data at its PointerToRawData.
    void WriteToStream(TStream& stream, int64_t offset) override;

    TImageSectionHeader Header() const { return View<TImageSectionHeader>(); }
    TSectionData* Data() const { return FData.get(); }

private:
    std::unique_ptr<TSectionData> FData;
};

class TPEImage {
public:
    // Loads the file at once; a missing file gives an empty image. Raises EImageBlockException "Bad Signature"
    // for a file that is not a PE image.
    explicit TPEImage(const std::string& fileName);
    virtual ~TPEImage() { Clear(); }
    TPEImage(const TPEImage&) = delete;
    TPEImage& operator=(const TPEImage&) = delete;

    void Load(const std::string& fileName);
    void Clear();
    // PointerToRawData + SizeOfRawData of the last section in table order (32-bit sum); 0 without sections.
    uint32_t GetImageEnd() const;
    // NumberOfSections: the headers in Sections() and those beyond the end of the file.
    size_t SectionCount() const { return FSections.size() + FSectionsBeyondFile; }
    int64_t FileSize() const { return FFileSize; }
    void SaveToFile(const std::string& fileName);
    virtual void Save() { SaveToFile(FFileName); }

    TDOSHeader* DOSHeader() const { return FDOSHeader.get(); }
    TNTHeaders* NTHeaders() const { return FNTHeaders.get(); }
    // The section headers the file holds, whole or in part, in table order. Headers that lie wholly beyond the
    // file's end read as zeros (no data, image end 0); they are only counted.
    const std::vector<std::unique_ptr<TSectionHeader>>& Sections() const { return FSections; }
    size_t SectionsBeyondFile() const { return FSectionsBeyondFile; }
    TDataBlock* HeaderGap() const { return FHeaderGap.get(); }

private:
    std::string FFileName;
    std::unique_ptr<TDOSHeader> FDOSHeader;
    std::unique_ptr<TNTHeaders> FNTHeaders;
    std::vector<std::unique_ptr<TSectionHeader>> FSections;
    size_t FSectionsBeyondFile = 0;
    std::unique_ptr<TDataBlock> FHeaderGap;
    int64_t FFileSize = 0;
};

// The image end of the executable in stream, read from its headers alone (the file is never loaded whole): what
// TPEImage gives for the same bytes, and the same EImageBlockException where TPEImage raises one.
uint32_t ReadImageEnd(TStream& stream);

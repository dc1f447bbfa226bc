// The resources of a Windows image as the authoring tool rewrites them: the resource tree, the layouts of the
// string, icon group and version resources, icon files, and the replacement of the resource section inside an
// image. Platform-free; the runtime never rewrites itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "uPEUtils.h"

// Resource types by number, as the loader looks them up.
enum : uint16_t {
    ResIcon = 3,
    ResString = 6,
    ResGroupIcon = 14,
    ResVersion = 16,
    ResManifest = 24,
};

// A type or name of the tree: a number, or a name (then Number is unused).
struct TResourceId {
    uint16_t Number = 0;
    std::u16string Name;
    bool IsName = false;
    bool operator==(const TResourceId&) const = default;
};

struct TResource {
    TResourceId Type, Name;
    uint16_t Language = 0;
    uint32_t CodePage = 0; // as the data entry carries it
    std::vector<uint8_t> Data;
    bool operator==(const TResource&) const = default;
};

// Every leaf of the tree in section, the bytes of the section mapped at sectionRva whose tree starts at
// directoryRva, in tree order. Raises EImageBlockException for a tree that points outside the section, goes deeper
// than the three levels the loader reads, or visits a directory twice.
std::vector<TResource> ReadResourceTree(const std::vector<uint8_t>& section, uint32_t sectionRva,
                                        uint32_t directoryRva);

// The section's bytes for resources mapped at sectionRva: directories (names before numbers, each sorted, as the
// loader's binary search needs), their names, the data entries, then each resource's data on an 8-byte boundary.
std::vector<uint8_t> BuildResourceTree(const std::vector<TResource>& resources, uint32_t sectionRva);

// An RT_STRING block holds 16 strings, counted UTF-16 without terminators; string n is entry n % 16 of block
// n / 16 + 1. Reading a damaged block gives the strings it holds whole.
std::vector<std::u16string> ReadStringBlock(const std::vector<uint8_t>& data);
std::vector<uint8_t> BuildStringBlock(const std::vector<std::u16string>& strings);

// One image of an icon as an .ico file and an icon group describe it; Bytes is the image (a DIB or a PNG file).
struct TIconImage {
    uint8_t Width = 0, Height = 0, ColorCount = 0; // 0 stands for 256 in the first two
    uint16_t Planes = 0, BitCount = 0;
    std::vector<uint8_t> Bytes;
    bool operator==(const TIconImage&) const = default;
};

// Icons large enough for every size Windows shows, with room to spare; larger files are refused.
inline constexpr size_t MaxIconFileSize = 1024 * 1024;

// The images of an .ico file in its order. Every size and offset is checked; a DIB image must hold the pixels and
// mask its header promises, a PNG image is kept as it is once its header reads. Returns none and sets why for a
// damaged, truncated or oversized file.
std::optional<std::vector<TIconImage>> ReadIconFile(const uint8_t* data, size_t size, std::string& why);
std::vector<uint8_t> BuildIconFile(const std::vector<TIconImage>& images);

// A GRPICONDIR naming RT_ICON firstId, firstId + 1, ... for the images; ReadIconGroup gives the entries' RT_ICON
// numbers with the images' descriptions (Bytes left empty), nothing for a damaged group.
std::vector<uint8_t> BuildIconGroup(const std::vector<TIconImage>& images, uint16_t firstId);
std::optional<std::vector<std::pair<uint16_t, TIconImage>>> ReadIconGroup(const std::vector<uint8_t>& data);

// A node of a VS_VERSIONINFO tree: a key, a value (binary, or UTF-16 with its terminator when Text), children.
struct TVersionNode {
    std::u16string Key;
    bool Text = false;
    std::vector<uint8_t> Value;
    std::vector<TVersionNode> Children;
    bool operator==(const TVersionNode&) const = default;

    TVersionNode* Child(const std::u16string& key);
    const TVersionNode* Child(const std::u16string& key) const;
    std::u16string TextValue() const; // up to the first terminator
    void SetText(const std::u16string& text);
};

// Raises EImageBlockException for lengths that leave their parent or the data.
TVersionNode ReadVersionInfo(const std::vector<uint8_t>& data);
// Raises EImageBlockException when a node outgrows the 16-bit length the format gives it.
std::vector<uint8_t> BuildVersionInfo(const TVersionNode& root);

// The image's headers as far as rewriting it needs them.
struct TPELayout {
    size_t OptionalAt = 0, SectionTableAt = 0, DirectoriesAt = 0;
    bool Pe32Plus = false;
    uint32_t DirectoryCount = 0, SectionAlignment = 0, FileAlignment = 0;
    uint16_t SectionCount = 0;
    size_t ChecksumAt() const { return OptionalAt + 64; }
};
// Raises EImageBlockException "Bad Signature", or for headers that leave image.
TPELayout ReadPELayout(const std::vector<uint8_t>& image);

// The bytes of the section that holds the resource tree, where it is mapped and where the tree starts; none when
// the image has no resource directory.
struct TResourceSection {
    std::vector<uint8_t> Bytes;
    uint32_t SectionRva = 0, DirectoryRva = 0;
};
std::optional<TResourceSection> FindResourceSection(const std::vector<uint8_t>& image);

// Replaces the resource section of image (the bytes up to its image end) with rsrc, laid out for the section's
// address, moving the base relocations behind it and fixing the headers that describe both. Raises
// EImageBlockException when the resources share their section with other data or anything else follows them.
void ReplaceResourceSection(std::vector<uint8_t>& image, const std::vector<uint8_t>& rsrc);

// The optional header's CheckSum over bytes that are a whole file: 16-bit words summed with their carries folded
// back, the field at fieldAt counted as zero, plus the file's length. Bytes may come in pieces; every piece but the
// last must have an even length.
class TPEChecksum {
public:
    explicit TPEChecksum(size_t fieldAt) : FFieldAt(fieldAt) {}
    void Update(const uint8_t* bytes, size_t count);
    uint32_t Value() const;

private:
    size_t FFieldAt;
    uint64_t FLength = 0;
    uint32_t FSum = 0;
};
uint32_t PEChecksum(const std::vector<uint8_t>& bytes, size_t fieldAt);

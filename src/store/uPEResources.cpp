#include "uPEResources.h"

#include <algorithm>
#include <map>
#include <set>

#include "../forms/ByteReader.h"

namespace {

constexpr uint16_t DosSignature = 0x5A4D;    // "MZ"
constexpr uint32_t NtSignature = 0x00004550; // "PE\0\0"
constexpr uint32_t SubdirectoryFlag = 0x80000000;
constexpr size_t DirectoryHeaderSize = 16, DirectoryEntrySize = 8, DataEntrySize = 16;
constexpr uint32_t ScnInitializedData = 0x00000040;
enum : size_t { DirResource = 2, DirSecurity = 4, DirBaseReloc = 5 };

[[noreturn]] void Fail(const std::string& why) {
    throw EImageBlockException(why);
}

void Put16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void Append16(std::vector<uint8_t>& bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void Append32(std::vector<uint8_t>& bytes, uint32_t value) {
    Append16(bytes, static_cast<uint16_t>(value));
    Append16(bytes, static_cast<uint16_t>(value >> 16));
}

void PadTo(std::vector<uint8_t>& bytes, size_t alignment) {
    while (bytes.size() % alignment)
        bytes.push_back(0);
}

uint64_t AlignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

bool IsPowerOfTwo(uint32_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

// ---- the resource tree

class TTreeReader {
public:
    TTreeReader(const std::vector<uint8_t>& section, uint32_t sectionRva)
        : B(section.data(), section.size()), FRva(sectionRva) {}

    void Directory(uint32_t offset, int level, TResource path, std::vector<TResource>& out) {
        if (!B.Has(offset, DirectoryHeaderSize)) Fail("a resource directory lies outside its section");
        if (!FVisited.insert(offset).second) Fail("the resource directories form a loop");
        const uint32_t count = uint32_t{B.U16(offset + 12)} + B.U16(offset + 14);
        if (!B.Has(offset + DirectoryHeaderSize, uint64_t{count} * DirectoryEntrySize))
            Fail("a resource directory's entries leave its section");
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t entry = offset + DirectoryHeaderSize + uint64_t{i} * DirectoryEntrySize;
            const uint32_t nameField = B.U32(entry), target = B.U32(entry + 4);
            TResourceId id;
            if (nameField & SubdirectoryFlag) {
                if (level == 2) Fail("a resource language is given as a name");
                id.IsName = true;
                id.Name = Name(nameField & ~SubdirectoryFlag);
            } else {
                id.Number = static_cast<uint16_t>(nameField);
            }
            TResource leaf = path;
            if (level == 0) leaf.Type = id;
            if (level == 1) leaf.Name = id;
            if (level == 2) leaf.Language = id.Number;
            const bool subdirectory = (target & SubdirectoryFlag) != 0;
            if (subdirectory != (level < 2)) Fail("the resource tree is not three levels deep");
            if (subdirectory)
                Directory(target & ~SubdirectoryFlag, level + 1, std::move(leaf), out);
            else
                out.push_back(Data(target, std::move(leaf)));
        }
    }

private:
    std::u16string Name(uint32_t offset) const {
        const uint16_t length = B.U16(offset);
        if (!B.Has(offset, 2 + uint64_t{length} * 2)) Fail("a resource name lies outside its section");
        std::u16string name;
        for (uint32_t i = 0; i < length; ++i)
            name += static_cast<char16_t>(B.U16(offset + 2 + uint64_t{i} * 2));
        return name;
    }

    TResource Data(uint32_t offset, TResource leaf) const {
        if (!B.Has(offset, DataEntrySize)) Fail("a resource data entry lies outside its section");
        const uint32_t rva = B.U32(offset), size = B.U32(offset + 4);
        if (rva < FRva || !B.Has(rva - FRva, size)) Fail("a resource's data lies outside its section");
        leaf.CodePage = B.U32(offset + 8);
        const uint8_t* start = B.Data() + (rva - FRva);
        leaf.Data.assign(start, start + size);
        return leaf;
    }

    TBytes B;
    uint32_t FRva;
    std::set<uint32_t> FVisited;
};

// Names before numbers, names by their code units, numbers ascending: the order the loader searches in.
bool IdLess(const TResourceId& a, const TResourceId& b) {
    if (a.IsName != b.IsName) return a.IsName;
    return a.IsName ? a.Name < b.Name : a.Number < b.Number;
}

struct TLevel {
    TResourceId Id;
    std::vector<TLevel> Children; // empty at the language level
    const TResource* Leaf = nullptr;
};

void AppendDirectory(std::vector<uint8_t>& out, const std::vector<TLevel>& entries) {
    Append32(out, 0); // characteristics
    Append32(out, 0); // time stamp: none, so that the same resources give the same bytes
    Append32(out, 0); // version
    uint16_t named = 0;
    for (const TLevel& e : entries)
        named = static_cast<uint16_t>(named + (e.Id.IsName ? 1 : 0));
    Append16(out, named);
    Append16(out, static_cast<uint16_t>(entries.size() - named));
    out.resize(out.size() + entries.size() * DirectoryEntrySize); // filled in once the targets are placed
}

// ---- icons

constexpr uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t BigEndian32(const TBytes& b, uint64_t at) {
    return uint32_t{b.U8(at)} << 24 | uint32_t{b.U8(at + 1)} << 16 | uint32_t{b.U8(at + 2)} << 8 | b.U8(at + 3);
}

// The bit count of an icon image from its own header; 0 with why set when the image cannot be shown.
uint16_t CheckIconImage(const TBytes& b, uint64_t at, uint64_t size, std::string& why) {
    if (size >= 8 && std::equal(PngSignature, PngSignature + 8, b.Data() + at)) {
        // A PNG image is stored as it is; the system decodes it. Its header must at least say what it is.
        if (size < 33 || BigEndian32(b, at + 8) != 13 || BigEndian32(b, at + 12) != 0x49484452) {
            why = "a PNG image without its header";
            return 0;
        }
        const uint32_t width = BigEndian32(b, at + 16), height = BigEndian32(b, at + 20);
        const uint8_t depth = b.U8(at + 24), colourType = b.U8(at + 25);
        if (width == 0 || height == 0 || width > 1024 || height > 1024) {
            why = "a PNG image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
            return 0;
        }
        const unsigned channels = colourType == 6 ? 4 : colourType == 2 ? 3 : colourType == 4 ? 2 : 1;
        return static_cast<uint16_t>(depth * channels);
    }
    const uint32_t headerSize = b.U32(at);
    if (headerSize < 40 || headerSize > size) {
        why = "neither a bitmap nor a PNG image";
        return 0;
    }
    const int32_t width = b.I32(at + 4), doubleHeight = b.I32(at + 8);
    const uint16_t planes = b.U16(at + 12), bits = b.U16(at + 14);
    const uint32_t compression = b.U32(at + 16), used = b.U32(at + 32);
    if (width <= 0 || width > 1024 || doubleHeight <= 0 || doubleHeight > 2048 || doubleHeight % 2) {
        why = "a bitmap of " + std::to_string(width) + " x " + std::to_string(doubleHeight) +
              " rows (an icon's bitmap has twice its height: the image, then the mask)";
        return 0;
    }
    if (planes != 1 || (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)) {
        why = "a bitmap of " + std::to_string(planes) + " planes and " + std::to_string(bits) + " bits per pixel";
        return 0;
    }
    if (compression != 0 && !(compression == 3 && (bits == 16 || bits == 32))) {
        why = "a compressed bitmap";
        return 0;
    }
    if (bits <= 8 && used > (1u << bits)) {
        why = "a palette of " + std::to_string(used) + " colours for " + std::to_string(bits) + " bits";
        return 0;
    }
    const uint64_t palette = bits <= 8 ? (used ? used : 1u << bits) : used;
    const uint64_t masks = compression == 3 && headerSize == 40 ? 12 : 0;
    const auto w = static_cast<uint64_t>(width), rows = static_cast<uint64_t>(doubleHeight / 2);
    const uint64_t need = headerSize + masks + palette * 4 + rows * (AlignUp(w * bits, 32) / 8 + AlignUp(w, 32) / 8);
    if (need > size) {
        why = "a bitmap of " + std::to_string(need) + " bytes in " + std::to_string(size);
        return 0;
    }
    return bits;
}

} // namespace

std::vector<TResource> ReadResourceTree(const std::vector<uint8_t>& section, uint32_t sectionRva,
                                        uint32_t directoryRva) {
    if (directoryRva < sectionRva) Fail("the resource directory lies outside its section");
    std::vector<TResource> out;
    TTreeReader(section, sectionRva).Directory(directoryRva - sectionRva, 0, TResource{}, out);
    return out;
}

std::vector<uint8_t> BuildResourceTree(const std::vector<TResource>& resources, uint32_t sectionRva) {
    std::vector<const TResource*> sorted;
    for (const TResource& r : resources)
        sorted.push_back(&r);
    std::stable_sort(sorted.begin(), sorted.end(), [](const TResource* a, const TResource* b) {
        if (!(a->Type == b->Type)) return IdLess(a->Type, b->Type);
        if (!(a->Name == b->Name)) return IdLess(a->Name, b->Name);
        return a->Language < b->Language;
    });
    std::vector<TLevel> types;
    for (const TResource* r : sorted) {
        if (types.empty() || !(types.back().Id == r->Type)) types.push_back({r->Type, {}, nullptr});
        auto& names = types.back().Children;
        if (names.empty() || !(names.back().Id == r->Name)) names.push_back({r->Name, {}, nullptr});
        auto& languages = names.back().Children;
        if (!languages.empty() && languages.back().Id.Number == r->Language)
            Fail("two resources of the same type, name and language");
        languages.push_back({TResourceId{r->Language, {}, false}, {}, r});
    }

    // Directories breadth first, then the names, the data entries and the data.
    std::vector<uint8_t> out;
    AppendDirectory(out, types);
    std::vector<uint32_t> typeDirs, nameDirs;
    for (const TLevel& t : types) {
        typeDirs.push_back(static_cast<uint32_t>(out.size()));
        AppendDirectory(out, t.Children);
    }
    for (const TLevel& t : types)
        for (const TLevel& n : t.Children) {
            nameDirs.push_back(static_cast<uint32_t>(out.size()));
            AppendDirectory(out, n.Children);
        }
    std::map<std::u16string, uint32_t> names;
    const auto nameOffset = [&](const TResourceId& id) {
        auto it = names.find(id.Name);
        if (it != names.end()) return it->second;
        const auto at = static_cast<uint32_t>(out.size());
        Append16(out, static_cast<uint16_t>(id.Name.size()));
        for (char16_t c : id.Name)
            Append16(out, static_cast<uint16_t>(c));
        names.emplace(id.Name, at);
        return at;
    };
    const auto setEntry = [&](uint32_t directory, size_t index, const TResourceId& id, uint32_t target) {
        const size_t at = directory + DirectoryHeaderSize + index * DirectoryEntrySize;
        Put32(out, at, id.IsName ? nameOffset(id) | SubdirectoryFlag : id.Number);
        Put32(out, at + 4, target);
    };
    size_t nameIndex = 0;
    for (size_t i = 0; i < types.size(); ++i) {
        setEntry(0, i, types[i].Id, typeDirs[i] | SubdirectoryFlag);
        for (size_t j = 0; j < types[i].Children.size(); ++j)
            setEntry(typeDirs[i], j, types[i].Children[j].Id, nameDirs[nameIndex + j] | SubdirectoryFlag);
        nameIndex += types[i].Children.size();
    }
    PadTo(out, 4);
    std::vector<std::pair<size_t, const TResource*>> entries; // where each data entry is, and its resource
    nameIndex = 0;
    for (const TLevel& t : types)
        for (const TLevel& n : t.Children) {
            for (size_t k = 0; k < n.Children.size(); ++k) {
                const auto at = static_cast<uint32_t>(out.size());
                out.resize(out.size() + DataEntrySize);
                setEntry(nameDirs[nameIndex], k, n.Children[k].Id, at);
                entries.emplace_back(at, n.Children[k].Leaf);
            }
            ++nameIndex;
        }
    for (const auto& [at, resource] : entries) {
        PadTo(out, 8);
        if (uint64_t{sectionRva} + out.size() + resource->Data.size() > UINT32_MAX) Fail("the resources are too large");
        Put32(out, at, static_cast<uint32_t>(sectionRva + out.size()));
        Put32(out, at + 4, static_cast<uint32_t>(resource->Data.size()));
        Put32(out, at + 8, resource->CodePage);
        out.insert(out.end(), resource->Data.begin(), resource->Data.end());
    }
    return out;
}

std::vector<std::u16string> ReadStringBlock(const std::vector<uint8_t>& data) {
    const TBytes b(data.data(), data.size());
    std::vector<std::u16string> strings(16);
    uint64_t at = 0;
    for (std::u16string& s : strings) {
        const uint16_t length = b.U16(at);
        if (!b.Has(at, 2 + uint64_t{length} * 2)) break;
        for (uint32_t i = 0; i < length; ++i)
            s += static_cast<char16_t>(b.U16(at + 2 + uint64_t{i} * 2));
        at += 2 + uint64_t{length} * 2;
    }
    return strings;
}

std::vector<uint8_t> BuildStringBlock(const std::vector<std::u16string>& strings) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < 16; ++i) {
        const std::u16string s = i < strings.size() ? strings[i] : std::u16string();
        Append16(out, static_cast<uint16_t>(s.size()));
        for (char16_t c : s)
            Append16(out, static_cast<uint16_t>(c));
    }
    return out;
}

std::optional<std::vector<TIconImage>> ReadIconFile(const uint8_t* data, size_t size, std::string& why) {
    const TBytes b(data, size);
    if (size > MaxIconFileSize) {
        why = "it is larger than " + std::to_string(MaxIconFileSize / 1024) + " KiB";
        return std::nullopt;
    }
    if (size < 6 || b.U16(0) != 0 || b.U16(2) != 1) {
        why = size < 6 ? "it is too short for an icon file" : "it does not begin like an icon file";
        return std::nullopt;
    }
    const uint16_t count = b.U16(4);
    if (count == 0) {
        why = "it holds no image";
        return std::nullopt;
    }
    const uint64_t tableEnd = 6 + uint64_t{count} * 16;
    if (!b.Has(0, tableEnd)) {
        why = "its table of " + std::to_string(count) + " images is longer than the file";
        return std::nullopt;
    }
    std::vector<TIconImage> images;
    for (uint16_t i = 0; i < count; ++i) {
        const uint64_t entry = 6 + uint64_t{i} * 16;
        const uint32_t bytes = b.U32(entry + 8), offset = b.U32(entry + 12);
        const std::string which = "image " + std::to_string(i + 1);
        if (bytes == 0 || offset < tableEnd || !b.Has(offset, bytes)) {
            why = which + " (" + std::to_string(bytes) + " bytes at " + std::to_string(offset) +
                  ") lies outside the file";
            return std::nullopt;
        }
        std::string problem;
        const uint16_t bits = CheckIconImage(b, offset, bytes, problem);
        if (bits == 0) {
            why = which + " is " + problem;
            return std::nullopt;
        }
        TIconImage image;
        image.Width = b.U8(entry);
        image.Height = b.U8(entry + 1);
        image.ColorCount = b.U8(entry + 2);
        // Some writers leave these at 0; the system picks an image by them, so they come from the image itself.
        image.Planes = b.U16(entry + 4) ? b.U16(entry + 4) : uint16_t{1};
        image.BitCount = b.U16(entry + 6) ? b.U16(entry + 6) : bits;
        image.Bytes.assign(data + offset, data + offset + bytes);
        images.push_back(std::move(image));
    }
    return images;
}

std::vector<uint8_t> BuildIconFile(const std::vector<TIconImage>& images) {
    std::vector<uint8_t> out;
    Append16(out, 0);
    Append16(out, 1);
    Append16(out, static_cast<uint16_t>(images.size()));
    auto offset = static_cast<uint32_t>(6 + 16 * images.size());
    for (const TIconImage& image : images) {
        out.insert(out.end(), {image.Width, image.Height, image.ColorCount, 0});
        Append16(out, image.Planes);
        Append16(out, image.BitCount);
        Append32(out, static_cast<uint32_t>(image.Bytes.size()));
        Append32(out, offset);
        offset += static_cast<uint32_t>(image.Bytes.size());
    }
    for (const TIconImage& image : images)
        out.insert(out.end(), image.Bytes.begin(), image.Bytes.end());
    return out;
}

std::vector<uint8_t> BuildIconGroup(const std::vector<TIconImage>& images, uint16_t firstId) {
    std::vector<uint8_t> out;
    Append16(out, 0);
    Append16(out, 1);
    Append16(out, static_cast<uint16_t>(images.size()));
    for (size_t i = 0; i < images.size(); ++i) {
        const TIconImage& image = images[i];
        out.insert(out.end(), {image.Width, image.Height, image.ColorCount, 0});
        Append16(out, image.Planes);
        Append16(out, image.BitCount);
        Append32(out, static_cast<uint32_t>(image.Bytes.size()));
        Append16(out, static_cast<uint16_t>(firstId + i));
    }
    return out;
}

std::optional<std::vector<std::pair<uint16_t, TIconImage>>> ReadIconGroup(const std::vector<uint8_t>& data) {
    const TBytes b(data.data(), data.size());
    const uint16_t count = b.U16(4);
    if (b.U16(0) != 0 || b.U16(2) != 1 || !b.Has(6, uint64_t{count} * 14)) return std::nullopt;
    std::vector<std::pair<uint16_t, TIconImage>> entries;
    for (uint16_t i = 0; i < count; ++i) {
        const uint64_t at = 6 + uint64_t{i} * 14;
        TIconImage image;
        image.Width = b.U8(at);
        image.Height = b.U8(at + 1);
        image.ColorCount = b.U8(at + 2);
        image.Planes = b.U16(at + 4);
        image.BitCount = b.U16(at + 6);
        entries.emplace_back(b.U16(at + 12), std::move(image));
    }
    return entries;
}

// ---- version information

TVersionNode* TVersionNode::Child(const std::u16string& key) {
    for (TVersionNode& child : Children)
        if (child.Key == key) return &child;
    return nullptr;
}

const TVersionNode* TVersionNode::Child(const std::u16string& key) const {
    return const_cast<TVersionNode*>(this)->Child(key);
}

std::u16string TVersionNode::TextValue() const {
    std::u16string text;
    for (size_t i = 0; i + 1 < Value.size(); i += 2) {
        const auto c = static_cast<char16_t>(Value[i] | Value[i + 1] << 8);
        if (c == 0) break;
        text += c;
    }
    return text;
}

void TVersionNode::SetText(const std::u16string& text) {
    Text = true;
    Value.clear();
    for (char16_t c : text)
        Append16(Value, static_cast<uint16_t>(c));
    Append16(Value, 0);
}

namespace {

// A node at at, within limit; its length through length.
TVersionNode ReadVersionNode(const TBytes& b, uint64_t at, uint64_t limit, int depth, uint64_t& length) {
    length = b.U16(at);
    if (depth > 8) Fail("the version information nests too deeply");
    if (length < 6 || at > limit || length > limit - at) Fail("a version information block leaves its parent");
    const uint64_t end = at + length;
    const uint16_t valueLength = b.U16(at + 2);
    TVersionNode node;
    node.Text = b.U16(at + 4) == 1;
    uint64_t pos = at + 6;
    for (;;) {
        if (pos + 2 > end) Fail("a version information key has no end");
        const uint16_t c = b.U16(pos);
        pos += 2;
        if (c == 0) break;
        node.Key += static_cast<char16_t>(c);
    }
    pos = AlignUp(pos, 4);
    const uint64_t valueBytes =
        pos >= end ? 0 : std::min<uint64_t>(node.Text ? valueLength * 2u : valueLength, end - pos);
    node.Value.assign(b.Data() + std::min(pos, end), b.Data() + std::min(pos, end) + valueBytes);
    pos = AlignUp(pos + valueBytes, 4);
    while (pos < end) {
        uint64_t childLength = 0;
        node.Children.push_back(ReadVersionNode(b, pos, end, depth + 1, childLength));
        pos = AlignUp(pos + childLength, 4);
    }
    return node;
}

void AppendVersionNode(std::vector<uint8_t>& out, const TVersionNode& node) {
    const size_t start = out.size();
    Append16(out, 0);
    const size_t units = node.Text ? node.Value.size() / 2 : node.Value.size();
    if (units > 0xFFFF) Fail("a version information value is too long");
    Append16(out, static_cast<uint16_t>(units));
    Append16(out, node.Text ? 1 : 0);
    for (char16_t c : node.Key)
        Append16(out, static_cast<uint16_t>(c));
    Append16(out, 0);
    PadTo(out, 4);
    out.insert(out.end(), node.Value.begin(), node.Value.end());
    for (const TVersionNode& child : node.Children) {
        PadTo(out, 4);
        AppendVersionNode(out, child);
    }
    if (out.size() - start > 0xFFFF) Fail("the version information is too long");
    Put16(out, start, static_cast<uint16_t>(out.size() - start));
}

} // namespace

TVersionNode ReadVersionInfo(const std::vector<uint8_t>& data) {
    uint64_t length = 0;
    return ReadVersionNode(TBytes(data.data(), data.size()), 0, data.size(), 0, length);
}

std::vector<uint8_t> BuildVersionInfo(const TVersionNode& root) {
    std::vector<uint8_t> out;
    AppendVersionNode(out, root);
    return out;
}

// ---- the image

TPELayout ReadPELayout(const std::vector<uint8_t>& image) {
    const TBytes b(image.data(), image.size());
    TPELayout layout;
    const uint32_t lfaNew = b.U32(60);
    if (b.U16(0) != DosSignature || !b.Has(lfaNew, 24) || b.U32(lfaNew) != NtSignature)
        throw EImageBlockException("Bad Signature");
    layout.SectionCount = b.U16(lfaNew + 6);
    layout.OptionalAt = lfaNew + size_t{24};
    const uint16_t magic = b.U16(layout.OptionalAt);
    if (magic != 0x10B && magic != 0x20B) Fail("an optional header of an unknown kind");
    layout.Pe32Plus = magic == 0x20B;
    layout.SectionAlignment = b.U32(layout.OptionalAt + 32);
    layout.FileAlignment = b.U32(layout.OptionalAt + 36);
    layout.DirectoryCount = b.U32(layout.OptionalAt + (layout.Pe32Plus ? 108 : 92));
    layout.DirectoriesAt = layout.OptionalAt + (layout.Pe32Plus ? 112 : 96);
    layout.SectionTableAt = layout.OptionalAt + b.U16(lfaNew + 20);
    if (layout.DirectoryCount > 16 ||
        layout.DirectoriesAt + layout.DirectoryCount * size_t{8} > layout.SectionTableAt ||
        !b.Has(layout.SectionTableAt, layout.SectionCount * uint64_t{40}))
        Fail("headers that leave the file");
    if (!IsPowerOfTwo(layout.SectionAlignment) || !IsPowerOfTwo(layout.FileAlignment))
        Fail("section or file alignment that is no power of two");
    return layout;
}

namespace {

struct TSectionFacts {
    size_t HeaderAt;
    uint32_t VirtualSize, VirtualAddress, RawSize, RawPointer, Characteristics;
    uint32_t Span(uint32_t alignment) const {
        return static_cast<uint32_t>(AlignUp(VirtualSize ? VirtualSize : RawSize, alignment));
    }
    bool Holds(uint32_t rva, uint32_t alignment) const {
        return rva >= VirtualAddress && rva - VirtualAddress < Span(alignment);
    }
};

std::vector<TSectionFacts> Sections(const std::vector<uint8_t>& image, const TPELayout& layout) {
    const TBytes b(image.data(), image.size());
    std::vector<TSectionFacts> sections;
    for (uint16_t i = 0; i < layout.SectionCount; ++i) {
        const size_t at = layout.SectionTableAt + size_t{i} * 40;
        sections.push_back({at, b.U32(at + 8), b.U32(at + 12), b.U32(at + 16), b.U32(at + 20), b.U32(at + 36)});
    }
    return sections;
}

uint32_t Directory(const std::vector<uint8_t>& image, const TPELayout& layout, size_t index, uint32_t part = 0) {
    if (index >= layout.DirectoryCount) return 0;
    return TBytes(image.data(), image.size()).U32(layout.DirectoriesAt + index * 8 + part);
}

} // namespace

std::optional<TResourceSection> FindResourceSection(const std::vector<uint8_t>& image) {
    const TPELayout layout = ReadPELayout(image);
    const uint32_t rva = Directory(image, layout, DirResource);
    if (rva == 0) return std::nullopt;
    for (const TSectionFacts& s : Sections(image, layout)) {
        if (!s.Holds(rva, layout.SectionAlignment)) continue;
        const uint32_t stored = s.VirtualSize ? std::min(s.VirtualSize, s.RawSize) : s.RawSize;
        if (!TBytes(image.data(), image.size()).Has(s.RawPointer, stored))
            Fail("the resource section lies outside the file");
        TResourceSection found;
        found.Bytes.assign(image.data() + s.RawPointer, image.data() + s.RawPointer + stored);
        found.SectionRva = s.VirtualAddress;
        found.DirectoryRva = rva;
        return found;
    }
    Fail("the resource directory lies in no section");
}

void ReplaceResourceSection(std::vector<uint8_t>& image, const std::vector<uint8_t>& rsrc) {
    const TPELayout layout = ReadPELayout(image);
    const uint32_t directoryRva = Directory(image, layout, DirResource);
    std::vector<TSectionFacts> sections = Sections(image, layout);
    auto resources = std::find_if(sections.begin(), sections.end(), [&](const TSectionFacts& s) {
        return directoryRva != 0 && s.Holds(directoryRva, layout.SectionAlignment);
    });
    if (resources == sections.end()) Fail("the program has no resource section");
    const TSectionFacts r = *resources;
    if (r.VirtualAddress != directoryRva) Fail("the resources share their section with other data");
    if (!TBytes(image.data(), image.size()).Has(r.RawPointer, r.RawSize)) Fail("the resource section leaves the file");

    const uint32_t relocations = Directory(image, layout, DirBaseReloc);
    const uint64_t newRaw = AlignUp(rsrc.size(), layout.FileAlignment);
    const int64_t vaDelta = static_cast<int64_t>(AlignUp(rsrc.size(), layout.SectionAlignment)) -
                            static_cast<int64_t>(r.Span(layout.SectionAlignment));
    const int64_t fileDelta = static_cast<int64_t>(newRaw) - int64_t{r.RawSize};
    std::vector<const TSectionFacts*> moved;
    for (const TSectionFacts& s : sections) {
        if (s.HeaderAt == r.HeaderAt) continue;
        const bool before = s.VirtualAddress < r.VirtualAddress;
        const bool fileBefore = s.RawSize == 0 || s.RawPointer + uint64_t{s.RawSize} <= r.RawPointer;
        if (before && fileBefore) continue;
        // Code and data hold absolute addresses the relocations do not describe; only the relocations themselves,
        // which the directory entry alone points at, can move.
        const bool movable = !before && relocations != 0 && s.Holds(relocations, layout.SectionAlignment) &&
                             s.VirtualAddress >= r.VirtualAddress + uint64_t{r.Span(layout.SectionAlignment)} &&
                             (s.RawSize == 0 || s.RawPointer >= r.RawPointer + uint64_t{r.RawSize});
        if (!movable) Fail("a section other than the base relocations follows the resources");
        moved.push_back(&s);
    }

    std::vector<uint8_t> out(image.data(), image.data() + r.RawPointer);
    out.insert(out.end(), rsrc.begin(), rsrc.end());
    if (r.RawPointer + newRaw > SIZE_MAX / 2) Fail("the resources make the image too large");
    out.resize(static_cast<size_t>(r.RawPointer + newRaw));
    out.insert(out.end(), image.data() + r.RawPointer + r.RawSize, image.data() + image.size());

    const auto shifted = [](uint32_t value, int64_t delta) {
        const int64_t result = int64_t{value} + delta;
        if (result < 0 || result > UINT32_MAX) Fail("the resources make the image too large");
        return static_cast<uint32_t>(result);
    };
    Put32(out, r.HeaderAt + 8, static_cast<uint32_t>(rsrc.size()));
    Put32(out, r.HeaderAt + 16, static_cast<uint32_t>(newRaw));
    for (size_t d = 0; d < layout.DirectoryCount; ++d) {
        const uint32_t rva = Directory(image, layout, d);
        if (d == DirSecurity || rva == 0) continue; // the certificate table is found by file offset, not address
        for (const TSectionFacts* s : moved)
            if (s->Holds(rva, layout.SectionAlignment)) Put32(out, layout.DirectoriesAt + d * 8, shifted(rva, vaDelta));
    }
    for (const TSectionFacts* s : moved) {
        Put32(out, s->HeaderAt + 12, shifted(s->VirtualAddress, vaDelta));
        if (s->RawSize) Put32(out, s->HeaderAt + 20, shifted(s->RawPointer, fileDelta));
    }
    Put32(out, layout.DirectoriesAt + DirResource * 8 + 4, static_cast<uint32_t>(rsrc.size()));
    const TBytes old(image.data(), image.size());
    Put32(out, layout.OptionalAt + 56, shifted(old.U32(layout.OptionalAt + 56), vaDelta));
    if (r.Characteristics & ScnInitializedData)
        Put32(out, layout.OptionalAt + 8, shifted(old.U32(layout.OptionalAt + 8), fileDelta));
    image = std::move(out);
}

void TPEChecksum::Update(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; i += 2) {
        const uint64_t at = FLength + i;
        if (at >= FFieldAt && at < FFieldAt + 4) continue;
        FSum += bytes[i] | (i + 1 < count ? uint32_t{bytes[i + 1]} << 8 : 0u);
        FSum = (FSum & 0xFFFF) + (FSum >> 16);
    }
    FLength += count;
}

uint32_t TPEChecksum::Value() const {
    return ((FSum & 0xFFFF) + (FSum >> 16)) + static_cast<uint32_t>(FLength);
}

uint32_t PEChecksum(const std::vector<uint8_t>& bytes, size_t fieldAt) {
    TPEChecksum sum(fieldAt);
    sum.Update(bytes.data(), bytes.size());
    return sum.Value();
}

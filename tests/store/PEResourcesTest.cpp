// The resource layouts the tool writes, read back by its own readers, and icon files as authors' tools damage them.
#include <gtest/gtest.h>

#include "IconBuilder.h"
#include "store/uPEResources.h"

namespace {

TResource Resource(TResourceId type, TResourceId name, uint16_t language, std::vector<uint8_t> data) {
    TResource r;
    r.Type = std::move(type);
    r.Name = std::move(name);
    r.Language = language;
    r.CodePage = language == 0x411 ? 932 : 0;
    r.Data = std::move(data);
    return r;
}

TResourceId Id(uint16_t number) {
    return {number, {}, false};
}
TResourceId Named(std::u16string name) {
    return {0, std::move(name), true};
}

TEST(PEResources, TheTreeReadsBackInTheLoadersOrder) {
    // Given out of order: the built tree sorts names before numbers at every level, numbers ascending.
    const std::vector<TResource> given = {
        Resource(Id(ResVersion), Id(1), 0x409, {1, 2, 3}),
        Resource(Id(ResManifest), Id(1), 0x409, std::vector<uint8_t>(13, 'm')),
        Resource(Named(u"PNG"), Named(u"LOGO"), 0x411, {9}),
        Resource(Id(ResString), Id(1), 0x411, {4}),
        Resource(Id(ResString), Id(1), 0x409, {5, 6}),
        Resource(Named(u"PNG"), Id(7), 0x409, {}),
    };
    const uint32_t rva = 0x8C000;
    const std::vector<uint8_t> section = BuildResourceTree(given, rva);
    const std::vector<TResource> read = ReadResourceTree(section, rva, rva);
    const std::vector<TResource> expected = {given[2], given[5], given[4], given[3], given[0], given[1]};
    EXPECT_EQ(read, expected);
    // Each resource's data starts on an 8-byte boundary of the image.
    EXPECT_EQ(BuildResourceTree(read, rva), section) << "the same resources give the same bytes";
    EXPECT_THROW(BuildResourceTree({given[0], given[0]}, rva), EImageBlockException);
}

TEST(PEResources, ADamagedTreeIsRefused) {
    const uint32_t rva = 0x1000;
    std::vector<uint8_t> section = BuildResourceTree({Resource(Id(ResVersion), Id(1), 0x409, {1, 2, 3, 4})}, rva);
    const auto damaged = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> bytes = section;
        for (size_t i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
        return bytes;
    };
    // Root entry's target, the type directory's target, the data entry's RVA and size.
    const uint32_t dataEntry = 16 * 3 + 8 * 3;
    EXPECT_THROW(ReadResourceTree(damaged(20, 0x80000000), rva, rva), EImageBlockException) << "a loop";
    EXPECT_THROW(ReadResourceTree(damaged(20, 0x8000FFF0), rva, rva), EImageBlockException) << "outside";
    EXPECT_THROW(ReadResourceTree(damaged(20, dataEntry), rva, rva), EImageBlockException) << "too shallow";
    EXPECT_THROW(ReadResourceTree(damaged(dataEntry, 0x10), rva, rva), EImageBlockException) << "before it";
    EXPECT_THROW(ReadResourceTree(damaged(dataEntry + 4, 0xFFFFFFF0), rva, rva), EImageBlockException);
    EXPECT_THROW(ReadResourceTree(section, rva, rva - 4), EImageBlockException);
    EXPECT_EQ(ReadResourceTree(section, rva, rva).size(), 1u);
}

TEST(PEResources, StringBlocksAndVersionInformationRoundTrip) {
    std::vector<std::u16string> strings(16);
    strings[1] = u"時計 Café";
    strings[15] = u"last";
    EXPECT_EQ(ReadStringBlock(BuildStringBlock(strings)), strings);
    std::vector<uint8_t> cut = BuildStringBlock(strings);
    cut.resize(cut.size() - 2);
    EXPECT_EQ(ReadStringBlock(cut)[1], strings[1]) << "the strings held whole are kept";
    EXPECT_EQ(ReadStringBlock(cut)[15], u"");

    TVersionNode root;
    root.Key = u"VS_VERSION_INFO";
    root.Value.assign(52, 7);
    TVersionNode strings1;
    strings1.Key = u"StringFileInfo";
    strings1.Text = true;
    TVersionNode table;
    table.Key = u"041104B0";
    table.Text = true;
    TVersionNode company;
    company.Key = u"CompanyName";
    company.SetText(u"ゆ社");
    TVersionNode empty;
    empty.Key = u"Comments";
    empty.SetText(u"");
    table.Children = {company, empty};
    strings1.Children = {table};
    root.Children = {strings1};
    const std::vector<uint8_t> bytes = BuildVersionInfo(root);
    EXPECT_EQ(bytes[0] | bytes[1] << 8, static_cast<int>(bytes.size()));
    EXPECT_EQ(ReadVersionInfo(bytes), root);
    EXPECT_EQ(ReadVersionInfo(bytes).Child(u"StringFileInfo")->Child(u"041104B0")->Child(u"CompanyName")->TextValue(),
              u"ゆ社");

    std::vector<uint8_t> longer = bytes;
    longer[0] = static_cast<uint8_t>(longer[0] + 4);
    EXPECT_THROW(ReadVersionInfo(longer), EImageBlockException) << "a length past the data";
    TVersionNode huge = root;
    huge.Children[0].Children[0].Children[0].SetText(std::u16string(40000, u'x'));
    EXPECT_THROW(BuildVersionInfo(huge), EImageBlockException) << "past the 16-bit lengths";
}

TEST(IconFile, GeneratedIconsReadBackWithEveryImage) {
    std::vector<TIconImage> images = SampleIconImages(0x3366CC);
    for (int bits : {1, 4, 8, 16, 24, 32})
        images.push_back(MakeDibIcon(24, static_cast<uint16_t>(bits), 0xFF8800));
    std::string why;
    const std::vector<uint8_t> file = BuildIconFile(images);
    const auto read = ReadIconFile(file.data(), file.size(), why);
    ASSERT_TRUE(read) << why;
    EXPECT_EQ(*read, images);
    EXPECT_EQ(BuildIconFile(*read), file);

    // Writers that leave planes and bit count at 0: the images' own headers fill them in.
    std::vector<uint8_t> zeroed = BuildIconFile({MakeDibIcon(16, 8, 0), MakePngIcon(32, 0)});
    for (size_t entry : {6u, 22u})
        for (size_t i = 4; i < 8; ++i)
            zeroed[entry + i] = 0;
    const auto filled = ReadIconFile(zeroed.data(), zeroed.size(), why);
    ASSERT_TRUE(filled) << why;
    EXPECT_EQ((*filled)[0].BitCount, 8);
    EXPECT_EQ((*filled)[1].BitCount, 32);
    EXPECT_EQ((*filled)[1].Planes, 1);
}

TEST(IconFile, DamagedFilesAreRefusedWithTheirReason) {
    const std::vector<uint8_t> good = BuildIconFile({MakeDibIcon(16, 8, 0x102030), MakePngIcon(32, 0x405060)});
    const auto with = [&](size_t at, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> file = good;
        std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
        return file;
    };
    const size_t dib = 6 + 2 * 16, png = dib + MakeDibIcon(16, 8, 0).Bytes.size();
    std::vector<uint8_t> truncated = good;
    truncated.resize(png + 20);
    std::vector<uint8_t> shortDib = good;
    shortDib.resize(png - 1);
    shortDib[6 + 16 + 12] = 0; // the PNG image moved out of the way: only the bitmap is short
    const struct {
        const char* Case;
        std::vector<uint8_t> File;
        const char* Why;
    } rows[] = {
        {"empty", {}, "it is too short for an icon file"},
        {"a cursor", with(2, {2, 0}), "it does not begin like an icon file"},
        {"no images", with(4, {0, 0}), "it holds no image"},
        {"a table past the end", with(4, {0xFF, 0xFF}), "its table of 65535 images is longer than the file"},
        {"cut in the PNG", truncated, "image 2 ("},
        {"an offset into the table", with(6 + 12, {8, 0, 0, 0}), "image 1 (1384 bytes at 8) lies outside the file"},
        {"a size past the end", with(6 + 8, {0xFF, 0xFF, 0xFF, 0xFF}), "image 1 (4294967295 bytes at 38) lies"},
        {"no size", with(6 + 8, {0, 0, 0, 0}), "image 1 (0 bytes at 38) lies outside the file"},
        {"two planes", with(dib + 12, {2}), "image 1 is a bitmap of 2 planes and 8 bits per pixel"},
        {"seven bits", with(dib + 14, {7}), "image 1 is a bitmap of 1 planes and 7 bits per pixel"},
        {"RLE", with(dib + 16, {1}), "image 1 is a compressed bitmap"},
        {"a palette too large", with(dib + 32, {0, 2}), "image 1 is a palette of 512 colours for 8 bits"},
        {"an odd height", with(dib + 8, {31}), "image 1 is a bitmap of 16 x 31 rows"},
        {"a negative width", with(dib + 4, {0, 0, 0, 0x80}), "image 1 is a bitmap of -2147483648 x 32 rows"},
        {"a bitmap header past its image", with(dib, {0, 0, 1, 0}), "image 1 is neither a bitmap nor a PNG image"},
        {"a wide bitmap", with(dib + 4, {0, 8}), "image 1 is a bitmap of 2048 x 32 rows"},
        {"a PNG without IHDR", with(png + 12, {'I', 'D', 'A', 'T'}), "image 2 is a PNG image without its header"},
        {"a PNG of no pixels", with(png + 16, {0, 0, 0, 0}), "image 2 is a PNG image of 0 x 32 pixels"},
    };
    for (const auto& row : rows) {
        std::string why;
        EXPECT_FALSE(ReadIconFile(row.File.data(), row.File.size(), why)) << row.Case;
        EXPECT_EQ(why.substr(0, std::string(row.Why).size()), row.Why) << row.Case << ": " << why;
    }
    std::string why;
    std::vector<uint8_t> large = good;
    large.resize(MaxIconFileSize + 1);
    EXPECT_FALSE(ReadIconFile(large.data(), large.size(), why));
    EXPECT_EQ(why, "it is larger than 1024 KiB");
    large.resize(MaxIconFileSize);
    EXPECT_TRUE(ReadIconFile(large.data(), large.size(), why)) << "bytes behind the images are no harm";
}

} // namespace

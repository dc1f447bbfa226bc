#include <cstring>

#include <gtest/gtest.h>

#include "PEBuilder.h"
#include "store/uPEUtils.h"

namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string BadSignatureOf(const std::vector<uint8_t>& bytes) {
    TTempDir dir;
    WriteFileBytes(dir.File("x.exe"), bytes);
    try {
        TPEImage image(dir.File("x.exe"));
    } catch (const EImageBlockException& e) {
        return e.Message();
    }
    return "loaded";
}

} // namespace

TEST(TPEImage, ReadsBlocksOfAWellFormedImage) {
    TTempDir dir;
    std::vector<uint8_t> bytes = BuildSimplePEImage();
    WriteFileBytes(dir.File("a.exe"), bytes);
    TPEImage image(dir.File("a.exe"));

    EXPECT_EQ(image.GetImageEnd(), 0x600u);
    EXPECT_EQ(image.FileSize(), 0x600);
    EXPECT_EQ(image.DOSHeader()->Size(), 128) << "the DOS block runs up to the NT headers";
    EXPECT_EQ(image.DOSHeader()->Bytes()[64], 0xCC);
    EXPECT_EQ(image.NTHeaders()->Size(), 248);
    EXPECT_EQ(image.NTHeaders()->SizeOfImage(), 0x3000u);
    ASSERT_EQ(image.Sections().size(), 2u);
    EXPECT_EQ(image.Sections()[1]->Data()->Size(), 0x200);
    EXPECT_EQ(image.Sections()[1]->Data()->Bytes()[0x1FF], 0x22);
    // The gap lies between the end of the section table (128 + 248 + 2 * 40) and the first section's data.
    EXPECT_EQ(image.HeaderGap()->Offset(), 456);
    EXPECT_EQ(image.HeaderGap()->Size(), 0x200 - 456);
}

TEST(TPEImage, ImageEndIsTheLastSectionInTableOrderNotTheFurthest) {
    TTempDir dir;
    TTestImage layout;
    layout.Sections = {{0x600, 0x200, 1}, {0x400, 0x100, 2}};
    std::vector<uint8_t> bytes = BuildPEImage(layout);
    bytes.insert(bytes.end(), 1000, 0xEE); // a store behind the image
    WriteFileBytes(dir.File("a.exe"), bytes);
    TPEImage image(dir.File("a.exe"));
    EXPECT_EQ(image.GetImageEnd(), 0x500u);
    EXPECT_EQ(image.FileSize(), 0x800 + 1000) << "the file size includes what follows the image";
    EXPECT_EQ(image.HeaderGap()->Size(), 0x400 - (128 + 248 + 80)) << "the gap ends at the lowest section";
}

TEST(TPEImage, SignaturesAreChecked) {
    std::vector<uint8_t> good = BuildSimplePEImage();
    std::vector<uint8_t> noMZ = good;
    noMZ[0] = 'X';
    std::vector<uint8_t> noPE = good;
    noPE[128 + 2] = 1; // "PE" must be followed by two zero bytes
    std::vector<uint8_t> zeroLfaNew = good;
    Put32(zeroLfaNew, 60, 0);
    std::vector<uint8_t> hugeLfaNew = good;
    Put32(hugeLfaNew, 60, 0x7FFFFFF0);
    std::vector<uint8_t> negativeLfaNew = good;
    Put32(negativeLfaNew, 60, 0x80000000);

    EXPECT_EQ(BadSignatureOf(good), "loaded");
    EXPECT_EQ(BadSignatureOf(noMZ), "Bad Signature");
    EXPECT_EQ(BadSignatureOf(noPE), "Bad Signature");
    EXPECT_EQ(BadSignatureOf(zeroLfaNew), "Bad Signature") << "NT headers looked for at offset 0 find MZ";
    EXPECT_EQ(BadSignatureOf(hugeLfaNew), "Bad Signature");
    EXPECT_EQ(BadSignatureOf(negativeLfaNew), "Bad Signature");
    EXPECT_EQ(BadSignatureOf({'M'}), "Bad Signature");
    EXPECT_EQ(BadSignatureOf({}), "Bad Signature");
}

TEST(TPEImage, ShortDosBlockWhenNtHeadersStartInsideTheDosHeader) {
    TTempDir dir;
    std::vector<uint8_t> bytes(0x300, 0);
    std::memcpy(&bytes[0], "MZ", 2);
    std::memcpy(&bytes[32], "PE\0\0", 4);
    bytes[32 + 6] = 1;      // one section
    Put32(bytes, 60, 32);   // e_lfanew lies inside the NT headers it points to
    Put32(bytes, 280 + 16, 0x10);
    Put32(bytes, 280 + 20, 0x200);
    WriteFileBytes(dir.File("a.exe"), bytes);
    TPEImage image(dir.File("a.exe"));
    EXPECT_EQ(image.DOSHeader()->Size(), 32);
    EXPECT_EQ(image.GetImageEnd(), 0x210u);
}

TEST(TPEImage, EmptyAndOversizedSectionsStayWithinTheFile) {
    TTempDir dir;
    TTestImage layout;
    layout.Sections = {{0x200, 0, 0}, {0x200, 0x100, 9}};
    std::vector<uint8_t> bytes = BuildPEImage(layout);
    // A third section that claims 3 GiB beyond the file's end.
    bytes[128 + 6] = 3;
    std::vector<uint8_t> header(40, 0);
    Put32(header, 16, 0xC0000000u);
    Put32(header, 20, 0x280);
    std::copy(header.begin(), header.end(), bytes.begin() + 128 + 248 + 80);
    WriteFileBytes(dir.File("a.exe"), bytes);

    TPEImage image(dir.File("a.exe"));
    ASSERT_EQ(image.Sections().size(), 3u);
    EXPECT_EQ(image.Sections()[0]->Data()->Size(), 0);
    EXPECT_EQ(image.Sections()[2]->Data()->Size(), 0xC0000000ll);
    EXPECT_EQ(image.Sections()[2]->Data()->StoredSize(), 0x300 - 0x280) << "only what the file supplies is held";
    EXPECT_EQ(image.GetImageEnd(), 0xC0000280u);
}

TEST(TPEImage, OverlappingSectionsCannotMultiplyTheFile) {
    TTempDir dir;
    TTestImage layout;
    for (int i = 0; i < 60; ++i) layout.Sections.push_back({0, 0x1000, 0});
    std::vector<uint8_t> bytes = BuildPEImage(layout);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    WriteFileBytes(dir.File("a.exe"), bytes);
    EXPECT_THROW(TPEImage image(dir.File("a.exe")), EImageBlockException);
}

TEST(TPEImage, MissingFileGivesEmptyImage) {
    TPEImage image("/nonexistent/dir/none.exe");
    EXPECT_EQ(image.GetImageEnd(), 0u);
    EXPECT_EQ(image.FileSize(), 0);
    EXPECT_TRUE(image.Sections().empty());
    EXPECT_EQ(image.DOSHeader(), nullptr);
}

TEST(TPEImage, SavesTheSameBytesBack) {
    TTempDir dir;
    TTestImage layout;
    layout.Sections = {{0x200, 0x180, 0x41}, {0x400, 0x200, 0x42}, {0x600, 0x40, 0x43}};
    std::vector<uint8_t> bytes = BuildPEImage(layout);
    for (size_t i = 456 + 40; i < 0x200; ++i) bytes[i] = static_cast<uint8_t>(i); // something in the gap
    WriteFileBytes(dir.File("a.exe"), bytes);
    TPEImage image(dir.File("a.exe"));
    image.SaveToFile(dir.File("b.exe"));
    EXPECT_EQ(ReadFileBytes(dir.File("b.exe")), bytes);
    EXPECT_EQ(image.FileSize(), static_cast<int64_t>(bytes.size()));
}

TEST(TPEImage, SavingATruncatedImageWritesTheMissingBytesAsZeros) {
    TTempDir dir;
    std::vector<uint8_t> bytes = BuildSimplePEImage();
    bytes.resize(0x500); // the last section is cut in half
    WriteFileBytes(dir.File("a.exe"), bytes);
    TPEImage image(dir.File("a.exe"));
    image.SaveToFile(dir.File("b.exe"));
    std::vector<uint8_t> saved = ReadFileBytes(dir.File("b.exe"));
    ASSERT_EQ(saved.size(), 0x600u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), saved.begin()));
    EXPECT_TRUE(std::all_of(saved.begin() + 0x500, saved.end(), [](uint8_t b) { return b == 0; }));
}

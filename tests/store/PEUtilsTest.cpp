#include <algorithm>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "PEBuilder.h"
#include "forms/FileStream.h"
#include "store/uPEUtils.h"

namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// What each reader makes of the bytes: the image end, or the message it raised.
std::string ImageReaderOutcome(const std::string& fileName) {
    try {
        return "end " + std::to_string(TPEImage(fileName).GetImageEnd());
    } catch (const EImageBlockException& e) {
        return "raises " + e.Message();
    }
}

std::string HeaderReaderOutcome(TStream& stream) {
    try {
        return "end " + std::to_string(ReadImageEnd(stream));
    } catch (const EImageBlockException& e) {
        return "raises " + e.Message();
    }
}

// A file of any size that is never held: an image's bytes, then zeros; counts what is read of it.
class TVirtualFile : public TStream {
public:
    TVirtualFile(std::vector<uint8_t> head, int64_t size) : FHead(std::move(head)), FSize(size) {}
    int64_t BytesRead = 0;

    int32_t Read(void* buffer, int32_t count) override {
        const int32_t n = static_cast<int32_t>(std::clamp<int64_t>(FSize - FPosition, 0, count));
        for (int32_t i = 0; i < n; ++i) {
            const int64_t at = FPosition + i;
            static_cast<uint8_t*>(buffer)[i] = at < static_cast<int64_t>(FHead.size()) ? FHead[static_cast<size_t>(at)] : 0;
        }
        FPosition += n;
        BytesRead += n;
        return n;
    }
    int32_t Write(const void*, int32_t) override { return 0; }
    int64_t Seek64(int64_t offset, TSeekOrigin origin) override {
        FPosition = origin == TSeekOrigin::soBeginning ? offset
                    : origin == TSeekOrigin::soCurrent ? FPosition + offset
                                                       : FSize + offset;
        return FPosition;
    }

private:
    std::vector<uint8_t> FHead;
    int64_t FSize;
    int64_t FPosition = 0;
};

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
    bytes[32 + 6] = 1;    // one section
    Put32(bytes, 60, 32); // e_lfanew lies inside the NT headers it points to
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
    for (int i = 0; i < 60; ++i)
        layout.Sections.push_back({0, 0x1000, 0});
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
    for (size_t i = 456 + 40; i < 0x200; ++i)
        bytes[i] = static_cast<uint8_t>(i); // something in the gap
    WriteFileBytes(dir.File("a.exe"), bytes);
    TPEImage image(dir.File("a.exe"));
    image.SaveToFile(dir.File("b.exe"));
    EXPECT_EQ(ReadFileBytes(dir.File("b.exe")), bytes);
    EXPECT_EQ(image.FileSize(), static_cast<int64_t>(bytes.size()));
}

TEST(TPEImage, A64BitImagesSectionTableFollowsItsLongerOptionalHeader) {
    TTempDir dir;
    TTestImage layout;
    layout.Is64 = true;
    layout.Sections = {{0x400, 0x200, 0x51}, {0x600, 0x100, 0x52}};
    std::vector<uint8_t> bytes = BuildPEImage(layout);
    bytes.insert(bytes.end(), 300, 0xEE); // a store behind the image
    WriteFileBytes(dir.File("a.exe"), bytes);
    TPEImage image(dir.File("a.exe"));
    EXPECT_EQ(image.GetImageEnd(), 0x700u);
    EXPECT_EQ(image.NTHeaders()->Size(), 264);
    EXPECT_EQ(image.NTHeaders()->SizeOfImage(), 0x3000u);
    ASSERT_EQ(image.Sections().size(), 2u);
    EXPECT_EQ(image.Sections()[0]->Data()->Bytes()[0], 0x51);
    EXPECT_EQ(image.HeaderGap()->Offset(), 128 + 264 + 80);
    TFileStream file(dir.File("a.exe"), TFileMode::fmOpenRead);
    EXPECT_EQ(ReadImageEnd(file), 0x700u);
    image.SaveToFile(dir.File("b.exe"));
    bytes.resize(0x700);
    EXPECT_EQ(ReadFileBytes(dir.File("b.exe")), bytes);
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

TEST(TPEImage, TableBeyondTheFileIsCountedNotBuilt) {
    TTempDir dir;
    std::vector<uint8_t> bytes = BuildSimplePEImage();
    bytes[128 + 6] = 0xFF; // 65535 sections; all but the first two lie beyond the file
    bytes[128 + 7] = 0xFF;
    bytes.resize(128 + 248 + 80 + 20); // and the third is cut in half
    WriteFileBytes(dir.File("a.exe"), bytes);
    TPEImage image(dir.File("a.exe"));
    EXPECT_EQ(image.SectionCount(), 65535u);
    EXPECT_EQ(image.Sections().size(), 3u) << "a header the file holds in part is read, zero-filled";
    EXPECT_EQ(image.SectionsBeyondFile(), 65532u);
    EXPECT_EQ(image.GetImageEnd(), 0u) << "the last header in the table reads as zeros";

    // Saved, the table is written out whole, as zeros where the file had none.
    image.SaveToFile(dir.File("b.exe"));
    const std::vector<uint8_t> saved = ReadFileBytes(dir.File("b.exe"));
    const size_t tableEnd = 128 + 248 + 40 * size_t{65535};
    ASSERT_EQ(saved.size(), std::max<size_t>(tableEnd, 0x600));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 128 + 248 + 80, saved.begin()));
    TPEImage reloaded(dir.File("b.exe"));
    EXPECT_EQ(reloaded.SectionCount(), 65535u);
    EXPECT_EQ(reloaded.GetImageEnd(), 0u);
}

// The store reader's fallback path reads the image end from the headers alone; it must agree with the image
// reader on every file, errors included.
TEST(ReadImageEnd, AgreesWithTheImageReader) {
    const std::vector<uint8_t> simple = BuildSimplePEImage();
    const auto with = [&](auto change) {
        std::vector<uint8_t> bytes = simple;
        change(bytes);
        return bytes;
    };
    const auto sections = [](uint16_t count) {
        return [count](std::vector<uint8_t>& b) {
            b[128 + 6] = static_cast<uint8_t>(count);
            b[128 + 7] = static_cast<uint8_t>(count >> 8);
        };
    };
    TTestImage unordered;
    unordered.Sections = {{0x600, 0x200, 1}, {0x400, 0x100, 2}};
    TTestImage overlapping;
    for (int i = 0; i < 60; ++i)
        overlapping.Sections.push_back({0, 0x1000, 0});

    const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
        {"simple", simple},
        {"store behind", with([](auto& b) { b.insert(b.end(), 5000, 0xEE); })},
        {"unordered", BuildPEImage(unordered)},
        {"overlapping", with([&](auto& b) { b = BuildPEImage(overlapping); })},
        {"32-bit sum wraps", with([](auto& b) { Put32(b, 128 + 248 + 40 + 20, 0xFFFFFF00u); })},
        {"no sections", with(sections(0))},
        {"table beyond the file", with(sections(65535))},
        {"last header cut", with([&](auto& b) { sections(3)(b), b.resize(128 + 248 + 80 + 7); })},
        {"table ends at the file's end", with([&](auto& b) { sections(2)(b), b.resize(128 + 248 + 80); })},
        {"one header too many", with([&](auto& b) { sections(3)(b), b.resize(128 + 248 + 80); })},
        {"truncated data", with([](auto& b) { b.resize(0x500); })},
        {"no MZ", with([](auto& b) { b[1] = 'Y'; })},
        {"no PE", with([](auto& b) { b[128 + 3] = 1; })},
        {"lfanew 0", with([](auto& b) { Put32(b, 60, 0); })},
        {"lfanew 32", with([](auto& b) { Put32(b, 60, 32); })},
        {"lfanew at the end", with([&](auto& b) { Put32(b, 60, static_cast<uint32_t>(b.size())); })},
        {"lfanew past the end", with([&](auto& b) { Put32(b, 60, static_cast<uint32_t>(b.size()) + 1); })},
        {"lfanew negative", with([](auto& b) { Put32(b, 60, 0xFFFFFFF0u); })},
        {"DOS header only", with([](auto& b) { b.resize(64); })},
        {"one byte", {'M'}},
        {"empty", {}},
    };
    TTempDir dir;
    for (const auto& [name, bytes] : cases) {
        WriteFileBytes(dir.File("x.exe"), bytes);
        TFileStream file(dir.File("x.exe"), TFileMode::fmOpenRead);
        EXPECT_EQ(HeaderReaderOutcome(file), ImageReaderOutcome(dir.File("x.exe"))) << name;
    }
    // The cases reach every outcome: an end, Bad Signature and data beyond the file.
    TMemoryStream stream;
    stream.WriteBuffer(simple.data(), static_cast<int32_t>(simple.size()));
    EXPECT_EQ(HeaderReaderOutcome(stream), "end 1536");
}

TEST(ReadImageEnd, AgreesOnInstalledWindowsExecutables) {
    // Executables Debian's Wine packages install, PE32 and PE32+ (whose section table follows a longer optional
    // header), and 16-bit ones and type libraries that are not PE images at all.
    std::vector<std::filesystem::path> files;
    for (const char* folder :
         {"/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"}) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error))
            if (entry.is_regular_file() && entry.file_size() < 512 * 1024) files.push_back(entry.path());
    }
    if (files.empty()) GTEST_SKIP() << "Wine's Windows libraries are not installed";
    std::sort(files.begin(), files.end());
    int images = 0;
    for (const auto& path : files) {
        TFileStream file(path.string(), TFileMode::fmOpenRead);
        const std::string outcome = HeaderReaderOutcome(file);
        EXPECT_EQ(outcome, ImageReaderOutcome(path.string())) << path;
        const bool image = outcome.rfind("end ", 0) == 0 && outcome != "end 0";
        // The linker's sections end inside the file: a table read from the wrong place ends anywhere.
        if (image) {
            EXPECT_LE(std::stoull(outcome.substr(4)), std::filesystem::file_size(path)) << path;
        }
        images += image;
    }
    EXPECT_GT(images, 100);
}

TEST(ReadImageEnd, ReadsOnlyTheHeaders) {
    std::vector<uint8_t> head = BuildSimplePEImage();
    TVirtualFile file(head, int64_t{3} << 30); // 3 GiB: an image, a store and a signature behind it
    EXPECT_EQ(ReadImageEnd(file), 0x600u);
    EXPECT_LE(file.BytesRead, 64 + 26 + 2 * 40) << "the DOS header, the NT headers up to the magic, the table";
}

#include <gtest/gtest.h>

#include "PEBuilder.h"
#include "SWFBuilder.h"
#include "flash/uFlashUtils.h"
#include "store/ZLibEx.h"

namespace {

using Bytes = std::vector<uint8_t>;

// 550 x 400 pixels as a common authoring tool writes it: Nbits 15, the rectangle in 9 bytes, 12 fps, 1 frame.
const Bytes kHand550x400 = {'F',  'W',  'S',  6,    0x15, 0,    0,    0,    0x78, 0x00, 0x05,
                            0x5F, 0x00, 0x00, 0x0F, 0xA0, 0x00, 0x00, 0x0C, 0x01, 0x00};

Bytes Cut(Bytes bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

Bytes With(Bytes bytes, size_t at, std::initializer_list<uint8_t> replacement) {
    std::copy(replacement.begin(), replacement.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

TSWFMovie Rect(int32_t xMin, int32_t xMax, int32_t yMin, int32_t yMax, int nbits = -1) {
    TSWFMovie movie;
    movie.XMin = xMin;
    movie.XMax = xMax;
    movie.YMin = yMin;
    movie.YMax = yMax;
    movie.NBits = nbits;
    return movie;
}

TSWFMovie Compressed(TSWFMovie movie, uint8_t version = 8) {
    movie.Compressed = true;
    movie.Version = version;
    return movie;
}

// A compressed movie whose body is long enough that cutting its zlib stream in half leaves the start intact.
Bytes LongCompressedMovie() {
    TSWFMovie movie = Compressed(SimpleMovie(640, 480, 0x00336699, true));
    for (int i = 0; i < 2000; ++i)
        movie.Tags.push_back(SetBackgroundColorTag(static_cast<uint8_t>(i), static_cast<uint8_t>(i * 7), 3));
    return BuildSWF(movie);
}

struct TCase {
    const char* Name;
    Bytes File;
    const char* Error; // null: the file reads as Left, Top, Right, Bottom
    TSWFRect Rect;
    bool IsCompressed;
};

std::vector<TCase> Cases() {
    const Bytes plain = BuildSWF(Rect(0, 11000, 0, 8000));
    const Bytes long_ = LongCompressedMovie();
    return {
        {"HandWritten", kHand550x400, nullptr, {0, 0, 550, 400}, false},
        {"RectBytesExactly", Cut(kHand550x400, 8 + 9), nullptr, {0, 0, 550, 400}, false},
        {"RectOneByteShort", Cut(kHand550x400, 8 + 8), "Invalid format", {}, false},
        {"NbitsZero", {'F', 'W', 'S', 1, 9, 0, 0, 0, 0x00}, nullptr, {0, 0, 0, 0}, false},
        {"NegativeXmin", BuildSWF(Rect(-20, 11000, 0, 8000)), nullptr, {-1, 0, 550, 400}, false},
        {"TruncatedTowardZero", BuildSWF(Rect(-19, 19, 39, -39)), nullptr, {0, 1, 0, -1}, false},
        {"Nbits31Extremes",
         BuildSWF(Rect(-(1 << 30), (1 << 30) - 1, 0, 20, 31)),
         nullptr,
         {-53687091, 0, 53687091, 1},
         false},
        {"WiderNbitsThanNeeded", BuildSWF(Rect(0, 11000, 0, 8000, 20)), nullptr, {0, 0, 550, 400}, false},
        {"LowerCaseSignature", With(plain, 0, {'f', 'w', 's'}), "Invalid format", {}, false},
        {"OtherLetters", With(plain, 0, {'G', 'I', 'F'}), "Invalid format", {}, false},
        {"OneLetterOff", With(plain, 0, {'C', 'W', 'X'}), "Invalid format", {}, false},
        {"Empty", {}, "Invalid format", {}, false},
        {"SignatureOnly", {'F', 'W', 'S'}, "Invalid format", {}, false},
        {"HeaderOnly", Cut(plain, 8), "Invalid format", {}, false},
        {"CompressedV6", BuildSWF(Compressed(Rect(0, 11000, 0, 8000), 6)), nullptr, {0, 0, 550, 400}, true},
        // Before version 6 there was no compression: the body is taken as it stands.
        {"CompressedV5ReadRaw", With(With(plain, 0, {'C'}), 3, {5}), nullptr, {0, 0, 550, 400}, true},
        {"CompressedV6RawBody", With(plain, 0, {'C'}), "data error", {}, true},
        {"CompressedZlibHeaderOnly",
         Cut(BuildSWF(Compressed(Rect(0, 11000, 0, 8000))), 8 + 2),
         "Invalid format",
         {},
         true},
        {"CompressedCutInHalf", Cut(long_, long_.size() / 2), nullptr, {0, 0, 640, 480}, true},
    };
}

void PrintTo(const TCase& c, std::ostream* out) {
    *out << c.Name;
}

class SWFRead : public ::testing::TestWithParam<TCase> {};

TEST_P(SWFRead, Header) {
    const TCase& c = GetParam();
    TTempDir dir;
    const std::string path = dir.File("movie.swf");
    WriteFileBytes(path, c.File);
    if (c.Error) {
        try {
            TSWF swf(path);
            FAIL() << "read a frame of " << swf.Width() << " x " << swf.Height();
        } catch (const EFlashFileError& e) {
            EXPECT_STREQ(c.Error, "Invalid format");
            EXPECT_EQ(e.Message(), c.Error);
        } catch (const EZDecompressionError& e) {
            EXPECT_EQ(e.Message(), c.Error);
        }
        return;
    }
    TSWF swf(path);
    EXPECT_EQ(swf.FileName(), path);
    EXPECT_EQ(swf.Compressed(), c.IsCompressed);
    EXPECT_EQ(swf.Version(), c.File[3]);
    EXPECT_EQ(swf.FrameRect().Left, c.Rect.Left);
    EXPECT_EQ(swf.FrameRect().Top, c.Rect.Top);
    EXPECT_EQ(swf.FrameRect().Right, c.Rect.Right);
    EXPECT_EQ(swf.FrameRect().Bottom, c.Rect.Bottom);
    EXPECT_EQ(swf.Width(), c.Rect.Right - c.Rect.Left);
    EXPECT_EQ(swf.Height(), c.Rect.Bottom - c.Rect.Top);
}

INSTANTIATE_TEST_SUITE_P(Cases, SWFRead, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<TCase>& param) { return std::string(param.param.Name); });

TEST(SWFReader, FileLengthAsTheHeaderStatesIt) {
    TTempDir dir;
    WriteFileBytes(dir.File("a.swf"), With(kHand550x400, 4, {0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(TSWF(dir.File("a.swf")).FileLength(), 0xFFFFFFFFu);
    TSWFMovie movie = SimpleMovie(320, 240, 0, true);
    const size_t plainSize = BuildSWF(movie).size();
    WriteFileBytes(dir.File("b.swf"), BuildSWF(Compressed(movie)));
    // A compressed movie states its uncompressed length.
    EXPECT_EQ(TSWF(dir.File("b.swf")).FileLength(), plainSize);
}

TEST(SWFReader, MissingFileNamesThePathInQuotes) {
    TTempDir dir;
    const std::string path = dir.File("absent.swf");
    try {
        TSWF swf(path);
        FAIL();
    } catch (const EFlashFileError& e) {
        EXPECT_EQ(e.Message(), "\"" + path + "\" not found");
    }
}

TEST(SWFBuilder, WritesTheRectangleAsAuthoringToolsDo) {
    TSWFMovie movie = Rect(0, 11000, 0, 8000);
    movie.Version = 6;
    const Bytes built = BuildSWF(movie);
    // The hand-written movie plus the End tag the builder appends.
    ASSERT_EQ(built.size(), kHand550x400.size() + 2);
    EXPECT_EQ(Cut(built, kHand550x400.size()), With(kHand550x400, 4, {0x17}));
}

TEST(FlashVersionGate, Decisions) {
    struct {
        bool Available;
        const char* Installed;
        const char* Required;
        bool Expected;
    } const rows[] = {
        {true, "8.0.22.0", "8.0", true},
        {true, "10.0.12.36", "8.0", true},
        {true, "7.0.19.0", "8.0", false},
        {true, "", "0.0.0.0", true},
        {true, "", "8.0", false},
        {true, "0.0.0.0", "0.0.0.0", true},
        {true, "0.0.0.0", "0.0.0.1", false},
        {false, "10.0.12.36", "0.0.0.0", false},
        {false, "", "", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(FlashVersionSatisfies(row.Available, row.Installed, row.Required), row.Expected)
            << row.Available << " " << row.Installed << " >= " << row.Required;
}

} // namespace

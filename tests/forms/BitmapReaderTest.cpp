#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "BMPBuilder.h"
#include "forms/BitmapReader.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Pixels = std::vector<uint32_t>;

constexpr uint32_t Red = 0xFF0000, Green = 0x00FF00, Blue = 0x0000FF, White = 0xFFFFFF, Black = 0;
constexpr uint32_t Yellow = 0xFFFF00, Cyan = 0x00FFFF, Magenta = 0xFF00FF;

// 5 x 3: an odd width, so that every bit count needs row padding, and rows that differ, so that a flipped image
// shows.
constexpr int32_t W = 5, H = 3;
const Pixels Colourful = {Red,   Green, Blue, White,   Black, //
                          Black, Red,   Red,  Yellow,  Cyan,  //
                          Cyan,  Cyan,  Blue, Magenta, Green};
const Pixels Palette8 = {Red, Green, Blue, White, Black, Yellow, Cyan, Magenta};
const Pixels TwoTone = {White, Black, Black, White, White, //
                        Black, Black, White, White, Black, //
                        White, White, White, Black, Black};

void Expect(const Bytes& file, int32_t width, int32_t height, const Pixels& expected) {
    TBitmapPixels out;
    std::string why;
    ASSERT_TRUE(ReadBitmapFile(file.data(), file.size(), out, &why)) << why;
    EXPECT_EQ(out.Width, width);
    EXPECT_EQ(out.Height, height);
    EXPECT_EQ(out.Pixels, expected);
}

struct TFormatCase {
    const char* Name;
    int BitCount;
    uint32_t Compression;
    bool TopDown;
    uint32_t HeaderSize;
};

TEST(BitmapReader, DecodesEveryKindOfBitmap) {
    const TFormatCase cases[] = {
        {"1 bit", 1, 0, false, 40},
        {"1 bit top-down", 1, 0, true, 40},
        {"4 bits", 4, 0, false, 40},
        {"8 bits", 8, 0, false, 40},
        {"8 bits top-down", 8, 0, true, 40},
        {"8 bits core header", 8, 0, false, 12},
        {"4 bits RLE4", 4, 2, false, 40},
        {"8 bits RLE8", 8, 1, false, 40},
        {"16 bits 555", 16, 0, false, 40},
        {"16 bits 565 fields", 16, 3, true, 40},
        {"24 bits", 24, 0, false, 40},
        {"24 bits top-down", 24, 0, true, 40},
        {"24 bits V5 header", 24, 0, false, 124},
        {"32 bits", 32, 0, true, 40},
        {"32 bits fields", 32, 3, false, 40},
        {"32 bits fields V4 header", 32, 3, false, 108},
    };
    for (const TFormatCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const Pixels& pixels = c.BitCount == 1 ? TwoTone : Colourful;
        const Pixels palette = c.BitCount == 1 ? Pixels{Black, White} : Palette8;
        TTestBitmap bitmap = MakeBitmap(pixels, W, H, c.BitCount, c.TopDown, c.Compression, palette);
        bitmap.HeaderSize = c.HeaderSize;
        Expect(BuildBMP(bitmap), W, H, pixels);
    }
}

// What GDI shows for fewer than 8 bits a channel: the bits repeated from the top (0x10 of 31 is 0x84, 0x21 of 63
// is 0x86), not a rounded product.
TEST(BitmapReader, WidensShortChannelsAsWindowsDoes) {
    TTestBitmap b555 = MakeBitmap({0, 0}, 2, 1, 16, false);
    b555.Bits = {0x10, 0x42, 0x1F, 0x00}; // 0x4210: 10000 10000 10000; 0x001F: blue only
    Expect(BuildBMP(b555), 2, 1, {0x848484, 0x0000FF});

    TTestBitmap b565 = MakeBitmap({0, 0}, 2, 1, 16, false, 3);
    b565.Bits = {0x20, 0x04, 0x00, 0xF8}; // 0x0420: green 100001; 0xF800: red only
    Expect(BuildBMP(b565), 2, 1, {0x008600, 0xFF0000});

    // A 10-bit channel keeps its top 8 bits; an empty mask gives 0.
    TTestBitmap wide = MakeBitmap({0}, 1, 1, 32, false, 3);
    wide.Masks = {0x3FF00000, 0x000FFC00, 0};
    wide.Bits = {0x00, 0x04, 0xF0, 0x3F}; // red 0x3FF, green 0x001
    Expect(BuildBMP(wide), 1, 1, {0xFF0000});
}

TEST(BitmapReader, IndicesPastASmallColourTableShowBlack) {
    TTestBitmap bitmap = MakeBitmap({Red, Green}, 2, 1, 8, false, 0, {Red, Green});
    bitmap.Bits[1] = 7; // only two colours are stored
    Expect(BuildBMP(bitmap), 2, 1, {Red, Black});
}

// Hand-written run-length records: absolute runs with their padding, deltas, clipping at the right edge and an
// early end, which leave the skipped pixels black.
TEST(BitmapReader, RunLengthRecords) {
    const Pixels palette = {Black, Red, Green, Blue};
    TTestBitmap rle8 = MakeBitmap(Pixels(8, Black), 4, 2, 8, false, 1, palette);
    rle8.Bits = {
        0x00, 0x03, 1,    2,    3, 0x00, // bottom row: absolute run of three, one pad byte
        0x01, 0x02,                      // a run of one
        0x00, 0x00,                      // end of line
        0x00, 0x02, 0x01, 0x00,          // delta: one to the right
        0x09, 0x02,                      // nine greens: clipped after three
        0x00, 0x01,                      // end of bitmap
    };
    Expect(BuildBMP(rle8), 4, 2, {Black, Green, Green, Green, Red, Green, Blue, Green});

    TTestBitmap rle4 = MakeBitmap(Pixels(6, Black), 6, 1, 4, false, 2, palette);
    rle4.Bits = {
        0x05, 0x12, // five alternating: 1 2 1 2 1
        0x00, 0x01, // end of bitmap: the last pixel stays black
    };
    Expect(BuildBMP(rle4), 6, 1, {Red, Green, Red, Green, Red, Black});
    rle4.Bits = {0x00, 0x03, 0x32, 0x10, 0x02, 0x33, 0x00, 0x01}; // absolute 3 2 1 (two bytes), then 3 3
    Expect(BuildBMP(rle4), 6, 1, {Blue, Green, Red, Blue, Blue, Black});
}

TEST(BitmapReader, AcceptsExactlyThePixelCap) {
    constexpr int32_t width = 16384;
    constexpr int32_t height = static_cast<int32_t>(MaxBitmapPixels / width);
    TTestBitmap bitmap;
    bitmap.Width = width;
    bitmap.Height = height;
    bitmap.BitCount = 1;
    bitmap.Palette = {Black, White};
    bitmap.Bits.assign(static_cast<size_t>(width / 8) * height, 0xFF);
    const Bytes file = BuildBMP(bitmap);
    TBitmapPixels out;
    ASSERT_TRUE(ReadBitmapFile(file.data(), file.size(), out));
    EXPECT_EQ(static_cast<int64_t>(out.Pixels.size()), MaxBitmapPixels);
    EXPECT_EQ(out.Pixels.back(), White);

    bitmap.Height += 1;
    bitmap.Bits.resize(bitmap.Bits.size() + width / 8, 0xFF);
    const Bytes over = BuildBMP(bitmap);
    EXPECT_FALSE(ReadBitmapFile(over.data(), over.size(), out));
}

struct TMalformedCase {
    const char* Name;
    Bytes File;
};

TEST(BitmapReader, RejectsDamagedFilesAndKeepsTheOutput) {
    const Bytes good = BuildBMP(MakeBitmap(Colourful, W, H, 24, false));
    const Bytes indexed = BuildBMP(MakeBitmap(Colourful, W, H, 8, false, 0, Palette8));
    const Bytes rle = BuildBMP(MakeBitmap(Colourful, W, H, 8, false, 1, Palette8));
    const auto patched = [](Bytes bytes, size_t at, uint32_t value, size_t size = 4) {
        for (size_t i = 0; i < size; ++i)
            bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
        return bytes;
    };
    const auto patched16 = [&](const Bytes& bytes, size_t at, uint16_t value) { return patched(bytes, at, value, 2); };
    const auto cut = [](Bytes bytes, size_t size) {
        bytes.resize(size);
        return bytes;
    };
    TTestBitmap os2 = MakeBitmap(Colourful, W, H, 24, false);
    os2.HeaderSize = 64;
    os2.Compression = 3; // Huffman in this header's numbering

    const TMalformedCase cases[] = {
        {"empty", {}},
        {"magic only", {'B', 'M'}},
        {"wrong magic", patched16(good, 0, 0x4142)},
        {"header size 0", patched(good, 14, 0)},
        {"header size between core and info", patched(good, 14, 20)},
        {"header larger than the file", patched(good, 14, 0x7FFFFFF0)},
        {"header size 0xFFFFFFFF", patched(good, 14, 0xFFFFFFFF)},
        {"width 0", patched(good, 18, 0)},
        {"negative width", patched(good, 18, static_cast<uint32_t>(-5))},
        {"height 0", patched(good, 22, 0)},
        {"height INT_MIN", patched(good, 22, 0x80000000u)},
        {"four giga-pixels", patched(patched(good, 18, 65536), 22, 65536)},
        {"wide overflow", patched(patched(good, 18, 0x7FFFFFFF), 22, 0x7FFFFFFF)},
        {"bit count 0", patched16(good, 28, 0)},
        {"bit count 2", patched16(good, 28, 2)},
        {"bit count 64", patched16(good, 28, 64)},
        {"JPEG compression", patched(good, 30, 4)},
        {"unknown compression", patched(good, 30, 0x12345678)},
        {"RLE8 at 24 bits", patched(good, 30, 1)},
        {"bit fields at 24 bits", patched(good, 30, 3)},
        {"OS/2 Huffman", BuildBMP(os2)},
        {"pixel data one byte short", cut(good, good.size() - 1)},
        {"pixel offset past the end", patched(good, 10, 0xFFFFFFF0)},
        {"colour table truncated", cut(indexed, 14 + 40 + 4 * 5)},
        {"RLE stored top-down", patched(rle, 22, static_cast<uint32_t>(-H))},
        {"RLE ends before its last row", cut(rle, rle.size() - 4)},
        {"RLE cut inside a record", cut(rle, rle.size() - 3)},
        {"RLE offset past the end", patched(rle, 10, 0xFFFFFFFF)},
    };
    for (const TMalformedCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBitmapPixels out;
        out.Width = 7;
        out.Pixels = {1, 2, 3};
        std::string why;
        EXPECT_FALSE(ReadBitmapFile(c.File.data(), c.File.size(), out, &why));
        EXPECT_FALSE(why.empty());
        EXPECT_EQ(out.Width, 7);
        EXPECT_EQ(out.Pixels, (Pixels{1, 2, 3}));
    }
}

// Run-length records that promise more than the data holds.
TEST(BitmapReader, RejectsRunLengthRecordsPastTheData) {
    const Bytes records[] = {
        {0x00, 0x05, 1, 2},       // absolute run of five with two bytes left
        {0x00, 0x02, 0x01},       // delta without its second byte
        {0x00, 0x00, 0x00, 0x00}, // lines end, but the bitmap never does while rows remain
    };
    for (const Bytes& bits : records) {
        TTestBitmap bitmap = MakeBitmap(Pixels(12, Black), 4, 3, 8, false, 1, {Black});
        bitmap.Bits = bits;
        const Bytes file = BuildBMP(bitmap);
        TBitmapPixels out;
        EXPECT_FALSE(ReadBitmapFile(file.data(), file.size(), out));
    }
}

} // namespace

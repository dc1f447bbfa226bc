#include "BitmapReader.h"

#include <algorithm>
#include <bit>

#include "ByteReader.h"

namespace {

constexpr size_t FileHeaderSize = 14;
constexpr uint32_t CoreHeaderSize = 12;
constexpr uint32_t InfoHeaderSize = 40;
constexpr uint32_t Os2HeaderSize = 64;
constexpr size_t MasksOffset = FileHeaderSize + InfoHeaderSize;

enum : uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6 };

// One colour channel of a bit-field pixel, widened to 8 bits by repeating its bits, as GDI does for 555 and 565.
class TChannel {
public:
    TChannel() = default;
    explicit TChannel(uint32_t mask)
        : FMask(mask), FShift(mask ? std::countr_zero(mask) : 0),
          FBits(mask ? static_cast<int>(std::bit_width(mask >> FShift)) : 0) {}

    uint8_t Value(uint32_t pixel) const {
        if (FBits == 0) return 0;
        const uint32_t value = (pixel & FMask) >> FShift;
        if (FBits >= 8) return static_cast<uint8_t>(value >> (FBits - 8));
        uint32_t wide = 0;
        int filled = 0;
        for (; filled < 8; filled += FBits)
            wide = wide << FBits | value;
        return static_cast<uint8_t>(wide >> (filled - 8));
    }

private:
    uint32_t FMask = 0;
    int FShift = 0;
    int FBits = 0;
};

struct THeader {
    int64_t Width = 0;
    int64_t Height = 0; // rows, always positive
    bool TopDown = false;
    unsigned BitCount = 0;
    uint32_t Compression = BI_RGB;
    uint32_t SizeImage = 0;
    uint32_t ColorsUsed = 0;
    uint64_t PaletteStart = 0;
    unsigned PaletteEntrySize = 4;
    uint64_t BitsOffset = 0;
};

// Rows of uncompressed pixels are padded to whole 32-bit words.
uint64_t RowStride(const THeader& header) {
    return (static_cast<uint64_t>(header.Width) * header.BitCount + 31) / 32 * 4;
}

bool Fail(std::string* why, const char* reason) {
    if (why) *why = reason;
    return false;
}

bool ReadHeader(const TBytes& bytes, THeader& header, std::string* why) {
    if (!bytes.Has(0, FileHeaderSize + 4)) return Fail(why, "too short for a bitmap header");
    if (bytes.U8(0) != 'B' || bytes.U8(1) != 'M') return Fail(why, "not a bitmap file");
    header.BitsOffset = bytes.U32(10);
    const uint32_t headerSize = bytes.U32(FileHeaderSize);
    if (!bytes.Has(FileHeaderSize, headerSize)) return Fail(why, "bitmap header truncated");

    if (headerSize == CoreHeaderSize) {
        header.Width = bytes.U16(18);
        header.Height = bytes.U16(20);
        header.BitCount = bytes.U16(24);
        header.PaletteEntrySize = 3;
    } else if (headerSize >= InfoHeaderSize) {
        header.Width = bytes.I32(18);
        const int32_t height = bytes.I32(22);
        header.TopDown = height < 0;
        header.Height = height < 0 ? -int64_t{height} : height;
        header.BitCount = bytes.U16(28);
        header.Compression = bytes.U32(30);
        header.SizeImage = bytes.U32(34);
        header.ColorsUsed = bytes.U32(46);
        // The OS/2 2.x header numbers its own kinds of compression from 3 on (Huffman, RLE24).
        if (headerSize == Os2HeaderSize && header.Compression > BI_RLE4)
            return Fail(why, "unsupported OS/2 compression");
    } else {
        return Fail(why, "unsupported bitmap header");
    }
    header.PaletteStart = FileHeaderSize + headerSize;
    // Only the 40-byte header keeps its masks outside itself, between the header and the palette.
    if (headerSize == InfoHeaderSize && header.Compression == BI_BITFIELDS) header.PaletteStart += 12;
    if (headerSize == InfoHeaderSize && header.Compression == BI_ALPHABITFIELDS) header.PaletteStart += 16;

    if (header.Width <= 0 || header.Height <= 0) return Fail(why, "empty or negative size");
    if (header.Width * header.Height > MaxBitmapPixels) return Fail(why, "too many pixels");

    const unsigned bits = header.BitCount;
    switch (header.Compression) {
    case BI_RGB:
        if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
            return Fail(why, "unsupported bit count");
        break;
    case BI_RLE8:
    case BI_RLE4:
        if (bits != (header.Compression == BI_RLE8 ? 8u : 4u)) return Fail(why, "run-length bit count mismatch");
        if (header.TopDown) return Fail(why, "run-length bitmap stored top-down");
        break;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS:
        if (bits != 16 && bits != 32) return Fail(why, "bit fields need 16 or 32 bits");
        if (!bytes.Has(MasksOffset, 12)) return Fail(why, "bit masks truncated");
        break;
    default:
        return Fail(why, "unsupported compression");
    }
    // Rows are checked against the data before anything is allocated for them.
    if (header.Compression != BI_RLE8 && header.Compression != BI_RLE4 &&
        !bytes.Has(header.BitsOffset, RowStride(header) * static_cast<uint64_t>(header.Height)))
        return Fail(why, "pixel data truncated");
    return true;
}

// The colour table as 0x00RRGGBB; indices past its end show black, as they do on Windows.
bool ReadPalette(const TBytes& bytes, const THeader& header, std::vector<uint32_t>& palette, std::string* why) {
    if (header.BitCount > 8) return true;
    const uint32_t full = 1u << header.BitCount;
    uint32_t count = header.ColorsUsed == 0 ? full : std::min(header.ColorsUsed, full);
    // The core header has no count of its own; writers that store a short table say so by where the pixels start.
    if (header.PaletteEntrySize == 3 && header.BitsOffset > header.PaletteStart)
        count = static_cast<uint32_t>(std::min<uint64_t>(count, (header.BitsOffset - header.PaletteStart) / 3));
    if (!bytes.Has(header.PaletteStart, uint64_t{count} * header.PaletteEntrySize))
        return Fail(why, "colour table truncated");
    palette.assign(full, 0);
    for (uint32_t i = 0; i < count; ++i)
        palette[i] = bytes.U32(header.PaletteStart + uint64_t{i} * header.PaletteEntrySize) & 0xFFFFFF;
    return true;
}

uint32_t Rgb(uint8_t red, uint8_t green, uint8_t blue) {
    return uint32_t{red} << 16 | uint32_t{green} << 8 | blue;
}

void DecodeRows(const TBytes& bytes, const THeader& header, const std::vector<uint32_t>& palette,
                std::vector<uint32_t>& pixels) {
    const uint64_t width = static_cast<uint64_t>(header.Width);
    const uint64_t height = static_cast<uint64_t>(header.Height);
    const unsigned bits = header.BitCount;
    const uint64_t stride = RowStride(header);

    TChannel red, green, blue;
    const bool fields = header.Compression != BI_RGB;
    if (fields) {
        red = TChannel(bytes.U32(MasksOffset));
        green = TChannel(bytes.U32(MasksOffset + 4));
        blue = TChannel(bytes.U32(MasksOffset + 8));
    } else if (bits == 16) {
        red = TChannel(0x7C00);
        green = TChannel(0x03E0);
        blue = TChannel(0x001F);
    }
    for (uint64_t y = 0; y < height; ++y) {
        const uint64_t row = header.BitsOffset + stride * (header.TopDown ? y : height - 1 - y);
        uint32_t* out = pixels.data() + y * width;
        for (uint64_t x = 0; x < width; ++x) {
            switch (bits) {
            case 1:
            case 4:
            case 8: {
                const uint64_t bit = x * bits;
                const unsigned shift = 8 - bits - static_cast<unsigned>(bit % 8);
                out[x] = palette[(uint32_t{bytes.U8(row + bit / 8)} >> shift) & ((1u << bits) - 1)];
                break;
            }
            case 16: {
                const uint32_t value = bytes.U16(row + x * 2);
                out[x] = Rgb(red.Value(value), green.Value(value), blue.Value(value));
                break;
            }
            case 24:
                out[x] = Rgb(bytes.U8(row + x * 3 + 2), bytes.U8(row + x * 3 + 1), bytes.U8(row + x * 3));
                break;
            case 32: {
                const uint32_t value = bytes.U32(row + x * 4);
                out[x] = fields ? Rgb(red.Value(value), green.Value(value), blue.Value(value)) : value & 0xFFFFFF;
                break;
            }
            }
        }
    }
}

// Run-length data: pixels that runs and deltas skip stay black; runs past the right edge are clipped. Every
// record consumes at least two bytes, so the work is bounded by the data's size.
bool DecodeRunLength(const TBytes& bytes, const THeader& header, const std::vector<uint32_t>& palette,
                     std::vector<uint32_t>& pixels, std::string* why) {
    const bool nibbles = header.Compression == BI_RLE4;
    const int64_t width = header.Width;
    const int64_t height = header.Height;
    if (header.BitsOffset > bytes.Size()) return Fail(why, "pixel data outside the file");
    uint64_t end = bytes.Size();
    if (header.SizeImage != 0 && header.SizeImage <= end - header.BitsOffset)
        end = header.BitsOffset + header.SizeImage;
    uint64_t pos = header.BitsOffset;
    int64_t x = 0, y = 0; // y counts rows from the bottom
    const auto put = [&](uint32_t index) {
        if (x < width) pixels[static_cast<size_t>((height - 1 - y) * width + x)] = palette[index];
        ++x;
    };
    while (y < height) {
        if (end - pos < 2) return Fail(why, "run-length data truncated");
        const uint8_t count = bytes.U8(pos);
        const uint8_t value = bytes.U8(pos + 1);
        pos += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i)
                put(nibbles ? (i % 2 ? value & 0x0F : value >> 4) : value);
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of bitmap
            return true;
        case 2: // delta
            if (end - pos < 2) return Fail(why, "run-length data truncated");
            x += bytes.U8(pos);
            y += bytes.U8(pos + 1);
            pos += 2;
            break;
        default: { // absolute run, padded to a 16-bit boundary
            const uint64_t size = nibbles ? (value + 1u) / 2 : value;
            if (end - pos < size) return Fail(why, "run-length data truncated");
            for (unsigned i = 0; i < value; ++i) {
                const uint8_t byte = bytes.U8(pos + (nibbles ? i / 2 : i));
                put(nibbles ? (i % 2 ? byte & 0x0F : byte >> 4) : byte);
            }
            pos += std::min<uint64_t>(size + size % 2, end - pos);
        }
        }
    }
    return true;
}

} // namespace

bool ReadBitmapFile(const uint8_t* data, size_t size, TBitmapPixels& out, std::string* why) {
    const TBytes bytes(data, data ? size : 0);
    THeader header;
    if (!ReadHeader(bytes, header, why)) return false;
    std::vector<uint32_t> palette;
    if (!ReadPalette(bytes, header, palette, why)) return false;

    std::vector<uint32_t> pixels(static_cast<size_t>(header.Width * header.Height), 0);
    if (header.Compression == BI_RLE8 || header.Compression == BI_RLE4) {
        if (!DecodeRunLength(bytes, header, palette, pixels, why)) return false;
    } else {
        DecodeRows(bytes, header, palette, pixels);
    }
    out.Width = static_cast<int32_t>(header.Width);
    out.Height = static_cast<int32_t>(header.Height);
    out.Pixels = std::move(pixels);
    return true;
}

#include "uFlashUtils.h"

#include <cstddef>
#include <memory>

#include "forms/FileStream.h"
#include "store/ZLibEx.h"
#include "support/uSysUtils.h"

namespace {

constexpr int HeaderSize = 8;
// Nbits (5 bits) and four fields of at most 31 bits: nothing of the body beyond this is ever looked at.
constexpr int MaxRectBytes = (5 + 4 * 31 + 7) / 8;

// Bits most significant first over a bounded buffer; bits past its end read as 0 and mark the reader overrun.
class TBitReader {
public:
    TBitReader(const uint8_t* data, size_t size) : FData(data), FSize(size) {}

    uint32_t ReadUnsigned(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            const size_t byte = FBit / 8;
            uint32_t bit = 0;
            if (byte < FSize)
                bit = (FData[byte] >> (7 - FBit % 8)) & 1u;
            else
                FOverrun = true;
            value = (value << 1) | bit;
            ++FBit;
        }
        return value;
    }

    // Two's complement over count bits; 0 bits read as 0.
    int32_t ReadSigned(int count) {
        if (count == 0) return 0;
        const uint32_t raw = ReadUnsigned(count);
        const int64_t value = static_cast<int64_t>(raw);
        return static_cast<int32_t>((raw >> (count - 1)) & 1u ? value - (int64_t{1} << count) : value);
    }

    bool Overrun() const { return FOverrun; }

private:
    const uint8_t* FData;
    size_t FSize;
    size_t FBit = 0;
    bool FOverrun = false;
};

// Fills as much of the buffer as the stream gives, with as many reads as it takes.
int32_t ReadUpTo(TStream& stream, uint8_t* buffer, int32_t count) {
    int32_t done = 0;
    while (done < count) {
        const int32_t n = stream.Read(buffer + done, count - done);
        if (n <= 0) break;
        done += n;
    }
    return done;
}

} // namespace

TSWF::TSWF(const std::string& fileName) {
    if (!FileExists(fileName)) throw EFlashFileError("\"" + fileName + "\" not found");
    FFileName = fileName;
    TFileStream file(fileName, TFileMode::fmOpenReadExclusive);

    uint8_t header[HeaderSize];
    if (ReadUpTo(file, header, HeaderSize) != HeaderSize) throw EFlashFileError("Invalid format");
    if (header[1] != 'W' || header[2] != 'S' || (header[0] != 'F' && header[0] != 'C'))
        throw EFlashFileError("Invalid format");
    FCompressed = header[0] == 'C';
    FVersion = header[3];
    FFileLength = static_cast<uint32_t>(header[4]) | static_cast<uint32_t>(header[5]) << 8 |
                  static_cast<uint32_t>(header[6]) << 16 | static_cast<uint32_t>(header[7]) << 24;

    // Only the rectangle at the start of the body is needed, so a compressed body is inflated no further than that:
    // a small file may otherwise inflate to any size.
    uint8_t body[MaxRectBytes] = {};
    int32_t bodySize;
    // Compression came with version 6; an older "CWS" movie is taken as it stands.
    if (FCompressed && FVersion > 5) {
        TZDecompressionStream inflater(file);
        bodySize = ReadUpTo(inflater, body, MaxRectBytes);
    } else {
        bodySize = ReadUpTo(file, body, MaxRectBytes);
    }

    TBitReader bits(body, static_cast<size_t>(bodySize));
    const int nbits = static_cast<int>(bits.ReadUnsigned(5));
    const int32_t xMin = bits.ReadSigned(nbits);
    const int32_t xMax = bits.ReadSigned(nbits);
    const int32_t yMin = bits.ReadSigned(nbits);
    const int32_t yMax = bits.ReadSigned(nbits);
    if (bits.Overrun()) throw EFlashFileError("Invalid format");
    FFrameRect.Left = xMin / 20;
    FFrameRect.Right = xMax / 20;
    FFrameRect.Top = yMin / 20;
    FFrameRect.Bottom = yMax / 20;
}

bool FlashVersionSatisfies(bool controlAvailable, std::string_view installed, std::string_view required) {
    return controlAvailable && VersionAtLeast(installed, required);
}

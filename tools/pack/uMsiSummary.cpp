#include "uMsiSummary.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace {

constexpr uint32_t EndOfChain = 0xFFFFFFFE;
constexpr uint32_t LastRegularSector = 0xFFFFFFFA;

// The compound file read through its sector chains; every offset and count is checked against the file's size
// before it is used, so that a damaged file ends in EReadError and never in a runaway chain.
class TCompoundFile {
public:
    explicit TCompoundFile(TStream& stream) : S(stream), FSize(stream.GetSize()) {
        const std::vector<uint8_t> header = Read(0, 512);
        static const uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
        if (!std::equal(signature, signature + 8, header.begin())) throw EReadError("not a compound file");
        const uint16_t shift = Get16(header, 0x1E), miniShift = Get16(header, 0x20);
        if ((shift != 9 && shift != 12) || miniShift != 6) throw EReadError("unknown sector sizes");
        FSectorSize = uint32_t{1} << shift;
        FMiniCutoff = Get32(header, 0x38);
        FDirectoryStart = Get32(header, 0x30);
        FMiniFatStart = Get32(header, 0x3C);
        const uint32_t fatSectors = Get32(header, 0x2C);
        if (fatSectors > FSize / FSectorSize) throw EReadError("more FAT sectors than the file holds");
        for (uint32_t i = 0; i < 109 && FFat.size() < fatSectors; ++i)
            FFat.push_back(Get32(header, 0x4C + 4 * i));
        // Beyond 109 FAT sectors the list goes on in DIFAT sectors, each ending with the next one's number.
        uint32_t difat = Get32(header, 0x44);
        for (int64_t guard = 0; FFat.size() < fatSectors; ++guard) {
            if (guard > FSize / FSectorSize) throw EReadError("the DIFAT chain loops");
            const std::vector<uint8_t> sector = ReadSector(difat);
            for (uint32_t i = 0; i + 1 < FSectorSize / 4 && FFat.size() < fatSectors; ++i)
                FFat.push_back(Get32(sector, 4 * i));
            difat = Get32(sector, FSectorSize - 4);
        }
    }

    // The file offsets of the stream's pieces, in order, and the piece size (a sector or a mini sector).
    void Locate(const std::u16string& name, std::vector<int64_t>& pieces, uint32_t& pieceSize, uint32_t& size) {
        uint32_t rootStart = EndOfChain;
        bool found = false;
        uint32_t start = 0;
        for (int64_t offset : Chain(FDirectoryStart)) {
            const std::vector<uint8_t> sector = Read(offset, FSectorSize);
            for (uint32_t at = 0; at + 128 <= FSectorSize; at += 128) {
                const uint8_t type = sector[at + 66];
                if (type == 5) rootStart = Get32(sector, at + 116);
                if (found || type != 2 || Get16(sector, at + 64) != 2 * (name.size() + 1)) continue;
                bool same = true;
                for (size_t i = 0; i < name.size(); ++i)
                    same = same && Get16(sector, at + 2 * static_cast<uint32_t>(i)) == name[i];
                if (!same) continue;
                found = true;
                start = Get32(sector, at + 116);
                size = Get32(sector, at + 120);
            }
        }
        if (!found) throw EReadError("no summary information");
        pieces.clear();
        if (size >= FMiniCutoff) {
            pieceSize = FSectorSize;
            pieces = Chain(start);
        } else {
            // Small streams live in 64-byte pieces inside the mini stream, which is the root entry's chain.
            pieceSize = 64;
            const std::vector<int64_t> mini = Chain(rootStart);
            const std::vector<int64_t> miniFat = Chain(FMiniFatStart);
            uint32_t piece = start;
            for (int64_t guard = 0; piece <= LastRegularSector; ++guard) {
                const uint64_t at = uint64_t{piece} * 64;
                if (guard > FSize / 64 || at / FSectorSize >= mini.size()) throw EReadError("a broken mini chain");
                pieces.push_back(mini[static_cast<size_t>(at / FSectorSize)] + static_cast<int64_t>(at % FSectorSize));
                const uint64_t entry = uint64_t{piece} * 4;
                if (entry / FSectorSize >= miniFat.size()) throw EReadError("a broken mini FAT");
                piece = Get32(Read(miniFat[static_cast<size_t>(entry / FSectorSize)], FSectorSize),
                              static_cast<uint32_t>(entry % FSectorSize));
            }
        }
        if (uint64_t{pieces.size()} * pieceSize < size) throw EReadError("a stream shorter than its size");
    }

    std::vector<uint8_t> Read(int64_t offset, uint32_t count) {
        if (offset < 0 || offset > FSize || count > FSize - offset) throw EReadError("a sector beyond the file's end");
        std::vector<uint8_t> bytes(count);
        S.SetPosition(offset);
        S.ReadBuffer(bytes.data(), static_cast<int32_t>(count));
        return bytes;
    }

    void Write(int64_t offset, const uint8_t* bytes, uint32_t count) {
        S.SetPosition(offset);
        S.WriteBuffer(bytes, static_cast<int32_t>(count));
    }

    static uint16_t Get16(const std::vector<uint8_t>& b, uint64_t at) {
        if (at > b.size() || b.size() - at < 2) throw EReadError("a field beyond its sector");
        const auto i = static_cast<size_t>(at);
        return static_cast<uint16_t>(b[i] | b[i + 1] << 8);
    }
    static uint32_t Get32(const std::vector<uint8_t>& b, uint64_t at) {
        if (at > b.size() || b.size() - at < 4) throw EReadError("a field beyond its sector");
        const auto i = static_cast<size_t>(at);
        return uint32_t{b[i]} | uint32_t{b[i + 1]} << 8 | uint32_t{b[i + 2]} << 16 | uint32_t{b[i + 3]} << 24;
    }

private:
    std::vector<uint8_t> ReadSector(uint32_t sector) { return Read((int64_t{sector} + 1) * FSectorSize, FSectorSize); }

    // The file offsets of a chain's sectors.
    std::vector<int64_t> Chain(uint32_t sector) {
        std::vector<int64_t> offsets;
        while (sector <= LastRegularSector) {
            if (offsets.size() > static_cast<size_t>(FSize / FSectorSize)) throw EReadError("a sector chain loops");
            offsets.push_back((int64_t{sector} + 1) * FSectorSize);
            const uint32_t perSector = FSectorSize / 4;
            if (sector / perSector >= FFat.size()) throw EReadError("a sector outside the FAT");
            sector = Get32(ReadSector(FFat[sector / perSector]), 4 * (sector % perSector));
        }
        return offsets;
    }

    TStream& S;
    int64_t FSize;
    uint32_t FSectorSize = 512;
    uint32_t FMiniCutoff = 4096;
    uint32_t FDirectoryStart = EndOfChain;
    uint32_t FMiniFatStart = EndOfChain;
    std::vector<uint32_t> FFat; // the FAT's own sectors
};

void Put32(std::vector<uint8_t>& b, uint64_t at, uint32_t value) {
    for (uint64_t i = 0; i < 4; ++i)
        b[static_cast<size_t>(at + i)] = static_cast<uint8_t>(value >> (8 * i));
}

bool Holds(const std::vector<uint8_t>& b, uint64_t at, uint64_t count) {
    return at <= b.size() && b.size() - at >= count;
}

} // namespace

void FixMsiSummary(TStream& msi, const std::string& packageCode, uint64_t fileTime) {
    if (packageCode.size() != 38) throw EReadError("a package code of the wrong length");
    TCompoundFile file(msi);
    std::vector<int64_t> pieces;
    uint32_t pieceSize = 0, size = 0;
    file.Locate(u"\x05SummaryInformation", pieces, pieceSize, size);
    std::vector<uint8_t> bytes;
    for (int64_t piece : pieces) {
        const std::vector<uint8_t> part = file.Read(piece, pieceSize);
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    bytes.resize(size);

    // A property set: a header naming one section, the section a list of (identifier, offset) pairs.
    using C = TCompoundFile;
    const uint32_t section = C::Get32(bytes, 44);
    const uint32_t count = C::Get32(bytes, uint64_t{section} + 4);
    if (count > size / 8) throw EReadError("a summary with more properties than bytes");
    bool code = false;
    int times = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t id = C::Get32(bytes, uint64_t{section} + 8 + 8 * i);
        const uint64_t at = uint64_t{section} + C::Get32(bytes, uint64_t{section} + 12 + 8 * i);
        // A text of 38 characters and its terminating zero.
        if (id == 9 && C::Get32(bytes, at) == 0x1E && C::Get32(bytes, at + 4) == 39 && Holds(bytes, at + 8, 39)) {
            std::copy(packageCode.begin(), packageCode.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + 8));
            code = true;
        }
        if ((id == 12 || id == 13) && C::Get32(bytes, at) == 0x40 && Holds(bytes, at + 4, 8)) {
            Put32(bytes, at + 4, static_cast<uint32_t>(fileTime));
            Put32(bytes, at + 8, static_cast<uint32_t>(fileTime >> 32));
            ++times;
        }
    }
    if (!code || times != 2) throw EReadError("the summary has no package code or times in the expected form");
    for (size_t i = 0; i < pieces.size(); ++i) {
        const size_t from = i * pieceSize;
        if (from >= bytes.size()) break;
        file.Write(pieces[i], bytes.data() + from,
                   static_cast<uint32_t>(std::min<size_t>(pieceSize, bytes.size() - from)));
    }
}

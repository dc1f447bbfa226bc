#include "uImageArch.h"

#include <algorithm>
#include <cstdio>

#include "forms/Classes.h"
#include "uManifest.h"

namespace {

constexpr uint16_t MachineI386 = 0x014C, MachineAmd64 = 0x8664;
constexpr uint16_t MagicPE32 = 0x010B, MagicPE32Plus = 0x020B;

// Zero-filled past the end, so that a short file reads as no image instead of raising.
void ReadAt(TStream& stream, int64_t offset, uint8_t* buffer, int32_t count) {
    std::fill(buffer, buffer + count, uint8_t{0});
    const int64_t size = stream.GetSize();
    if (offset < 0 || offset >= size) return;
    stream.SetPosition(offset);
    stream.ReadBuffer(buffer, static_cast<int32_t>(std::min<int64_t>(count, size - offset)));
}

uint16_t Get16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

} // namespace

std::optional<TImageArch> ReadImageArch(TStream& stream) {
    uint8_t dos[64];
    ReadAt(stream, 0, dos, sizeof dos);
    if (dos[0] != 'M' || dos[1] != 'Z') return std::nullopt;
    const int64_t lfaNew = int64_t{dos[60]} | int64_t{dos[61]} << 8 | int64_t{dos[62]} << 16 | int64_t{dos[63]} << 24;
    uint8_t nt[26];
    ReadAt(stream, lfaNew, nt, sizeof nt);
    if (nt[0] != 'P' || nt[1] != 'E' || nt[2] || nt[3]) return std::nullopt;
    return TImageArch{Get16(nt + 4), Get16(nt + 24)};
}

int32_t ArchIndex(const TImageArch& arch) {
    if (arch.Machine == MachineI386 && arch.Magic == MagicPE32) return 0;
    if (arch.Machine == MachineAmd64 && arch.Magic == MagicPE32Plus) return 1;
    return -1;
}

std::string ArchDescription(const TImageArch& arch) {
    const int32_t index = ArchIndex(arch);
    if (index >= 0) return ArchNames[index];
    char text[48];
    std::snprintf(text, sizeof text, "machine 0x%04x, magic 0x%03x", arch.Machine, arch.Magic);
    return text;
}

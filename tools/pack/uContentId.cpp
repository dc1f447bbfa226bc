#include "uContentId.h"

#include <bit>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint64_t Prime1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t Prime2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t Prime3 = 0x165667B19E3779F9ull;
constexpr uint64_t Prime4 = 0x85EBCA77C2B2AE63ull;
constexpr uint64_t Prime5 = 0x27D4EB2F165667C5ull;

uint64_t Rotl(uint64_t x, int r) {
    return (x << r) | (x >> (64 - r));
}

uint64_t Read64(const uint8_t* p) {
    // One load where the machine is little-endian, as every target of this project is.
    if constexpr (std::endian::native == std::endian::little) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    }
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

uint32_t Read32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint64_t Round(uint64_t acc, uint64_t input) {
    return Rotl(acc + input * Prime2, 31) * Prime1;
}

uint64_t MergeRound(uint64_t acc, uint64_t lane) {
    return (acc ^ Round(0, lane)) * Prime1 + Prime4;
}

} // namespace

TXxh64::TXxh64(uint64_t seed) : FLanes{seed + Prime1 + Prime2, seed + Prime2, seed, seed - Prime1}, FSeed(seed) {}

void TXxh64::Update(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    FTotal += size;
    if (FBuffered + size < 32) {
        if (size) std::memcpy(FBuffer + FBuffered, p, size);
        FBuffered += size;
        return;
    }
    if (FBuffered) {
        const size_t fill = 32 - FBuffered;
        std::memcpy(FBuffer + FBuffered, p, fill);
        for (int i = 0; i < 4; ++i)
            FLanes[i] = Round(FLanes[i], Read64(FBuffer + 8 * i));
        p += fill, size -= fill;
        FBuffered = 0;
    }
    for (; size >= 32; p += 32, size -= 32)
        for (int i = 0; i < 4; ++i)
            FLanes[i] = Round(FLanes[i], Read64(p + 8 * i));
    if (size) std::memcpy(FBuffer, p, size);
    FBuffered = size;
}

uint64_t TXxh64::Digest() const {
    uint64_t h;
    if (FTotal >= 32) {
        h = Rotl(FLanes[0], 1) + Rotl(FLanes[1], 7) + Rotl(FLanes[2], 12) + Rotl(FLanes[3], 18);
        for (uint64_t lane : FLanes)
            h = MergeRound(h, lane);
    } else {
        h = FSeed + Prime5;
    }
    h += FTotal;
    const uint8_t* p = FBuffer;
    size_t left = FBuffered;
    for (; left >= 8; p += 8, left -= 8)
        h = Rotl(h ^ Round(0, Read64(p)), 27) * Prime1 + Prime4;
    if (left >= 4) {
        h = Rotl(h ^ (uint64_t{Read32(p)} * Prime1), 23) * Prime2 + Prime3;
        p += 4, left -= 4;
    }
    for (; left > 0; ++p, --left)
        h = Rotl(h ^ (*p * Prime5), 11) * Prime1;
    h ^= h >> 33;
    h *= Prime2;
    h ^= h >> 29;
    h *= Prime3;
    h ^= h >> 32;
    return h;
}

void TContentHasher::UpdateField(const void* data, size_t size) {
    uint8_t length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = static_cast<uint8_t>(static_cast<uint64_t>(size) >> (8 * i));
    Update(length, sizeof length);
    Update(data, size);
}

std::string TContentHasher::Guid() const {
    const uint64_t low = FHash.Digest();
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<uint8_t>(low >> (8 * i));
    TXxh64 spread(1);
    spread.Update(bytes, sizeof bytes);
    const uint64_t high = spread.Digest();
    // Version 8 in the third group, the RFC variant (binary 10) at the start of the fourth.
    const uint16_t version = static_cast<uint16_t>(((high >> 16) & 0x0FFF) | 0x8000);
    const uint16_t variant = static_cast<uint16_t>(((low >> 48) & 0x3FFF) | 0x8000);
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(high >> 32),
                  static_cast<unsigned>(high & 0xFFFF), static_cast<unsigned>(version), static_cast<unsigned>(variant),
                  static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
    return text;
}

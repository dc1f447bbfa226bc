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

namespace {

uint32_t Rotl32(uint32_t x, int r) {
    return (x << r) | (x >> (32 - r));
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::string Sha1(std::string_view bytes) {
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::string message(bytes);
    const uint64_t bits = static_cast<uint64_t>(bytes.size()) * 8;
    message += '\x80';
    while (message.size() % 64 != 56)
        message += '\0';
    for (int i = 7; i >= 0; --i)
        message += static_cast<char>(bits >> (8 * i));
    for (size_t block = 0; block < message.size(); block += 64) {
        uint32_t w[80];
        for (int i = 0; i < 16; ++i) {
            const auto* p = reinterpret_cast<const uint8_t*>(message.data() + block + 4 * i);
            w[i] = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
        }
        for (int i = 16; i < 80; ++i)
            w[i] = Rotl32(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            uint32_t f, k;
            if (i < 20)
                f = (b & c) | (~b & d), k = 0x5A827999;
            else if (i < 40)
                f = b ^ c ^ d, k = 0x6ED9EBA1;
            else if (i < 60)
                f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
            else
                f = b ^ c ^ d, k = 0xCA62C1D6;
            const uint32_t t = Rotl32(a, 5) + f + e + k + w[i];
            e = d, d = c, c = Rotl32(b, 30), b = a, a = t;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
    }
    std::string digest;
    for (uint32_t word : h)
        for (int i = 3; i >= 0; --i)
            digest += static_cast<char>(word >> (8 * i));
    return digest;
}

std::string NameBasedUuid(std::string_view space, std::string_view name) {
    std::string input;
    int high = -1;
    for (char c : space) {
        const int value = HexValue(c);
        if (value < 0 || input.size() == 16) continue;
        if (high < 0) {
            high = value;
        } else {
            input += static_cast<char>(high << 4 | value);
            high = -1;
        }
    }
    input.resize(16, '\0');
    input += name;
    std::string hash = Sha1(input);
    hash[6] = static_cast<char>((hash[6] & 0x0F) | 0x50);
    hash[8] = static_cast<char>((hash[8] & 0x3F) | 0x80);
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        const auto byte = static_cast<uint8_t>(hash[static_cast<size_t>(i)]);
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

// The generated items the benchmarks work on: 64 MiB of bytes that deflate about 3:1 or about 100:1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr size_t ItemSize = 64u << 20;

// How compressible an item is: each byte starts a new symbol from an alphabet with probability Fresh / 65536 and
// repeats the previous one otherwise. Five symbols drawn at every byte deflate about 3:1; one fresh byte in about
// 330 of a full alphabet about 100:1.
struct TCase {
    const char* Name;
    uint32_t Alphabet;
    uint32_t Fresh;
};
inline constexpr TCase Cases[] = {{"3:1", 5, 65536}, {"100:1", 256, 200}};

inline std::vector<uint8_t> MakeItem(const TCase& c, size_t size = ItemSize) {
    std::vector<uint8_t> out(size);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    uint8_t current = 0;
    for (uint8_t& b : out) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        const uint32_t x = static_cast<uint32_t>(state >> 11);
        if ((x & 0xFFFF) < c.Fresh) current = static_cast<uint8_t>('a' + (x >> 16) % c.Alphabet);
        b = current;
    }
    return out;
}

// The generated items the benchmarks work on: bytes that deflate about 3:1 or about 100:1, 64 MiB unless said.
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

// The bytes of an item one after another, so that an item of any size can be made without holding it.
class TItemGenerator {
public:
    explicit TItemGenerator(const TCase& c) : FCase(c) {}
    void Fill(uint8_t* out, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            FState ^= FState << 13;
            FState ^= FState >> 7;
            FState ^= FState << 17;
            const uint32_t x = static_cast<uint32_t>(FState >> 11);
            if ((x & 0xFFFF) < FCase.Fresh) FCurrent = static_cast<uint8_t>('a' + (x >> 16) % FCase.Alphabet);
            out[i] = FCurrent;
        }
    }

private:
    TCase FCase;
    uint64_t FState = 0x9E3779B97F4A7C15ull;
    uint8_t FCurrent = 0;
};

inline std::vector<uint8_t> MakeItem(const TCase& c, size_t size = ItemSize) {
    std::vector<uint8_t> out(size);
    TItemGenerator(c).Fill(out.data(), size);
    return out;
}

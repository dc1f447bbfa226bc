// The bounded reader under the parsers of untrusted bytes (bitmaps, icons, resources).
#pragma once

#include <cstddef>
#include <cstdint>

// Little-endian reads over a buffer; whatever lies past the end reads as 0.
class TBytes {
public:
    TBytes(const uint8_t* data, size_t size) : FData(data), FSize(size) {}
    size_t Size() const { return FSize; }
    const uint8_t* Data() const { return FData; }
    // True when count bytes start at offset; written so that neither side can overflow.
    bool Has(uint64_t offset, uint64_t count) const { return count <= FSize && offset <= FSize - count; }
    uint8_t U8(uint64_t offset) const { return Has(offset, 1) ? FData[offset] : 0; }
    uint16_t U16(uint64_t offset) const { return static_cast<uint16_t>(U8(offset) | U8(offset + 1) << 8); }
    uint32_t U32(uint64_t offset) const { return U16(offset) | static_cast<uint32_t>(U16(offset + 2)) << 16; }
    int32_t I32(uint64_t offset) const { return static_cast<int32_t>(U32(offset)); }

private:
    const uint8_t* FData;
    size_t FSize;
};

// Decoding of Windows BMP files from untrusted bytes, for the picture control and for the authoring tool's checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TBitmapPixels {
    int32_t Width = 0, Height = 0;
    std::vector<uint32_t> Pixels; // Width * Height, rows top-down, each pixel 0x00RRGGBB
};

// 16 Mi pixels take 64 MiB decoded, and as much again once a device bitmap is made from them: about what a
// 32-bit process can still find in one piece after its movie and its own image.
inline constexpr int64_t MaxBitmapPixels = int64_t{16} * 1024 * 1024;

// Decodes a Windows BMP file's bytes: the file header, then a core (12-byte), info (40-byte), OS/2 2.x or V2 to V5
// header; 1, 4 and 8 bits with a palette, RLE8 and RLE4, 16 bits (555 or bit fields), 24 bits, 32 bits (plain or
// bit fields), stored bottom-up or top-down. Returns false and leaves `out` unchanged when the file is damaged,
// truncated, of an unsupported kind or larger than MaxBitmapPixels; `why` then names the reason.
bool ReadBitmapFile(const uint8_t* data, size_t size, TBitmapPixels& out, std::string* why = nullptr);

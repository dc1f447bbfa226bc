// Which processor a Windows executable is for, as its headers say: the file header's Machine and the optional
// header's magic, which a loader requires to agree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class TStream;

struct TImageArch {
    uint16_t Machine = 0;
    uint16_t Magic = 0;
};

// The two fields, or nothing when the bytes are no PE image (no "MZ", or no "PE\0\0" where e_lfanew points).
// Stream errors reach the caller.
std::optional<TImageArch> ReadImageArch(TStream& stream);

// The index into ArchNames of what the image is for; -1 for anything else (another processor, or a machine field
// that its optional header contradicts).
int32_t ArchIndex(const TImageArch& arch);

// "x86", "x64", or for anything else the machine and magic in hexadecimal ("machine 0xaa64, magic 0x20b").
std::string ArchDescription(const TImageArch& arch);

// The readers under test take file names: each fuzz target writes its input to one fixed file per process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "PEBuilder.h"

// A folder of this process's own, removed when the process ends normally.
inline const TTempDir& FuzzTempDir() {
    static TTempDir dir;
    return dir;
}

// Writes the bytes to the file and returns its name; a write failure is the machine's, not a finding.
inline const std::string& WriteFuzzFile(const std::string& name, const uint8_t* data, size_t size) {
    static std::string path;
    path = FuzzTempDir().File(name);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
    return path;
}

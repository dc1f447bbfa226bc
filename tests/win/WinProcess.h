// Runs Windows programs from tests and captures what they print.
#pragma once

#include <cstdint>
#include <string>

struct TProcessResult {
    uint32_t ExitCode = 0;
    std::string Output; // everything the program wrote to its standard output, byte for byte
};

// Starts commandLine with its standard output on a pipe, reads the pipe to its end and waits for the program.
// Raises std::runtime_error naming the failing call when the program cannot be started.
TProcessResult RunAndCapture(const std::string& commandLine);

// The directory of the running executable, with a trailing backslash; the test programs are built beside it.
std::string ExeDirectory();

// A path as one command-line argument (the test paths never contain quotes).
inline std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

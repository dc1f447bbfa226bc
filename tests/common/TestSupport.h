// What the Windows test programs share: their own folder, the monitor layout the harness promises, programs run
// with their output captured, and a message pump that waits for a condition.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct TProcessResult {
    uint32_t ExitCode = 0;
    std::string Output; // everything the program wrote to its standard output, byte for byte
};

// Starts commandLine (in currentDirectory, if one is given) with its standard output on a pipe, reads the pipe to
// its end and waits for the program. Raises std::runtime_error naming the failing call when the program cannot be
// started.
TProcessResult RunAndCapture(const std::string& commandLine, const std::string& currentDirectory = {});

// The directory of the running executable, with a trailing backslash; the test programs are built beside it.
std::string ExeDirectory();

// A path as one command-line argument (the test paths never contain quotes).
inline std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

// The monitor layout scripts/wine-env.sh promises (MUTONE_MONITORS): 1 or 3; 0 outside the harness.
int HarnessMonitors();

// Runs the application's message loop until done holds or about ten seconds of idle waits went by; done's last
// answer.
bool PumpUntil(const std::function<bool()>& done);

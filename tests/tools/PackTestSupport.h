// What the tests of mutone-pack share: a folder of their own, a runtime to pack into, and the tool run in-process
// with its output and exit code.
#pragma once

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PEBuilder.h"
#include "uCodePage.h"
#include "uPackCommands.h"
#include "uPackFiles.h"

struct TRun {
    int Code;
    std::string Out, Err;
    long PeakKiB = 0; // a program's largest resident set, where the system tells
};

inline TRun RunTool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = RunPack(args, out, err);
    return {code, out.str(), err.str()};
}

inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

class TPackTest : public ::testing::Test {
protected:
    // A file of the test's folder by a UTF-8 name, spelled as the system takes it ('/' also on Windows).
    std::string File(const std::string& name) const {
        std::string problem;
        return JoinPath(FDir.Path(), Utf8ToSystem(name, problem).value_or(name));
    }
    // The same with the system's own separators, as the tool joins names.
    std::string NativeFile(const std::string& name) const {
        return Replace(File(name), "/", JoinDir().substr(JoinDir().size() - 1));
    }
    // The folder's path with its separator, as the tool joins names to it.
    std::string JoinDir() const { return DirectoryOf(File("x")); }

    void WriteText(const std::string& name, const std::string& text) const {
        const std::string path = File(name);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
    }

    // A small Windows image standing in for the screensaver program.
    std::string Runtime() const {
        const std::string path = File("runtime.exe");
        if (!RegularFileSize(path)) WriteFileBytes(path, BuildSimplePEImage());
        return path;
    }

    // A Windows runtime as its build made it ("win32", "win64"); empty before that build ran.
    static std::string RealRuntime(const char* preset) {
        const std::string path = std::string(MUTONE_SOURCE_DIR) + "/build/" + preset + "/src/app/mutone.scr";
        return RegularFileSize(path) ? path : std::string();
    }

    static TRun Run(const std::vector<std::string>& args) { return RunTool(args); }

    // build ARGS... --runtime <the stand-in runtime>
    TRun Build(std::vector<std::string> args) const {
        args.insert(args.begin(), "build");
        args.push_back("--runtime");
        args.push_back(Runtime());
        return RunTool(args);
    }

    // The names of the regular files in a subfolder, sorted.
    std::vector<std::string> FilesIn(const std::string& sub) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(sub.empty() ? FDir.Path() : File(sub)))
            if (entry.is_regular_file()) {
                const std::u8string name = entry.path().filename().u8string();
                names.emplace_back(name.begin(), name.end());
            }
        std::sort(names.begin(), names.end());
        return names;
    }

    bool FileExistsHere(const std::string& name) const { return std::filesystem::exists(File(name)); }
    static void ResizeFile(const std::string& path, int64_t size) {
        std::filesystem::resize_file(path, static_cast<uintmax_t>(size));
    }

    TTempDir FDir;
};

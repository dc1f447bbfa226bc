// The built mutone-pack as its users run it: a program of its own, finding the runtime beside itself, on the
// system's own kind of paths (under Wine: a drive letter, backslashes, spaces in folder names).
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "PackTestSupport.h"
#include "SWFBuilder.h"
#include "store/uPEUtils.h"
#include "uPackView.h"

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs program with args in folder; its exit code, and what it wrote to each stream.
TRun RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& folder) {
    const std::string out = JoinPath(folder, "stdout.txt"), err = JoinPath(folder, "stderr.txt");
    int code = -1;
    long peakKiB = 0;
#ifdef _WIN32
    std::string line = "\"" + program + "\"";
    for (const std::string& arg : args)
        line += " \"" + arg + "\"";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outFile = CreateFileA(out.c_str(), GENERIC_WRITE, 0, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE errFile = CreateFileA(err.c_str(), GENERIC_WRITE, 0, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = outFile;
    startup.hStdError = errFile;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup, &process)) {
        WaitForSingleObject(process.hProcess, 60000);
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        code = static_cast<int>(exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(outFile);
    CloseHandle(errFile);
#else
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string previous = std::filesystem::current_path().string();
    std::filesystem::current_path(folder);
    pid_t pid;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        struct rusage usage {};
        wait4(pid, &status, 0, &usage);
        code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        peakKiB = usage.ru_maxrss;
    }
    std::filesystem::current_path(previous);
    posix_spawn_file_actions_destroy(&actions);
#endif
    // A Windows program's text streams end their lines with CR LF.
    return {code, Replace(ReadText(out), "\r\n", "\n"), Replace(ReadText(err), "\r\n", "\n"), peakKiB};
}

class PackProcess : public TPackTest {
protected:
    // A copy of the built tool in a folder of its own (with a space in its name), and where it found nothing yet.
    std::string InstallTool(const std::string& folder) {
        // Spelled as the system spells it, so that it reads back as the tool's own path.
        const std::string native = File(Replace(folder, "/", JoinDir().substr(JoinDir().size() - 1)));
        std::filesystem::create_directories(native);
        const std::string tool = JoinPath(native, FileNameOf(MUTONE_PACK_PROGRAM));
        std::filesystem::copy_file(MUTONE_PACK_PROGRAM, tool);
        return tool;
    }
};

TEST_F(PackProcess, FindsTheRuntimeBesideItselfOrInTheShareFolder) {
    const std::string tool = InstallTool("tool dir/bin");
    WriteFileBytes(File("clip.swf"), BuildSWF(SimpleMovie(550, 400, 0, false)));

    TRun run = RunProgram(tool, {"build", "clip.swf", "-o", "Clip.scr"}, FDir.Path());
    EXPECT_EQ(run.Code, 1);
    const std::string bin = DirectoryOf(tool), beside = bin + "mutone.scr";
    EXPECT_EQ(run.Err, "mutone-pack: mutone.scr: runtime: not found at " + beside + " or " +
                           Replace(bin + "../share/mutone/mutone.scr", "/", bin.substr(bin.size() - 1)) +
                           "; name one with --runtime FILE\n");
    EXPECT_FALSE(FileExistsHere("Clip.scr"));

    // The installed layout: bin/mutone-pack and share/mutone/mutone.scr.
    std::filesystem::create_directories(File("tool dir/share/mutone"));
    std::vector<uint8_t> shared = BuildSimplePEImage();
    WriteFileBytes(File("tool dir/share/mutone/mutone.scr"), shared);
    run = RunProgram(tool, {"build", "clip.swf", "-o", "Clip.scr"}, FDir.Path());
    ASSERT_EQ(run.Code, 0) << run.Err;
    std::vector<uint8_t> out = ReadFileBytes(File("Clip.scr"));
    EXPECT_TRUE(std::equal(shared.begin(), shared.end(), out.begin()));

    // Beside the tool comes first.
    TTestImage other;
    other.Sections = {{0x200, 0x400, 0x77}};
    const std::vector<uint8_t> besideImage = BuildPEImage(other);
    WriteFileBytes(beside, besideImage);
    run = RunProgram(tool, {"build", "clip.swf", "-o", "Clip.scr"}, FDir.Path());
    ASSERT_EQ(run.Code, 0) << run.Err;
    out = ReadFileBytes(File("Clip.scr"));
    EXPECT_TRUE(std::equal(besideImage.begin(), besideImage.end(), out.begin()));
    EXPECT_EQ(TPEImage(File("Clip.scr")).GetImageEnd(), besideImage.size());
}

// Each architecture has its runtime beside the tool; --arch, else the manifest's arch, else x86 chooses it, and a
// runtime for the other processor is refused wherever it was found.
TEST_F(PackProcess, TheArchitectureChoosesTheRuntime) {
    const std::string tool = InstallTool("arch tool");
    const std::string bin = DirectoryOf(tool);
    WriteFileBytes(File("clip.swf"), BuildSWF(SimpleMovie(550, 400, 0, false)));
    WriteText("x64.toml", "arch = \"x64\"\n[movie]\nfile = \"clip.swf\"\n");
    TTestImage x86, x64;
    x86.Sections = {{0x200, 0x200, 0x86}};
    x64.Is64 = true;
    x64.Sections = {{0x400, 0x200, 0x64}};
    const std::vector<uint8_t> x86Image = BuildPEImage(x86), x64Image = BuildPEImage(x64);
    WriteFileBytes(bin + "mutone.scr", x86Image);

    // Before the 64-bit runtime is there, only an x64 build misses it, by its own name.
    TRun run = RunProgram(tool, {"build", "clip.swf", "-o", "Clip.scr", "--arch", "x64"}, FDir.Path());
    EXPECT_EQ(run.Code, 1);
    EXPECT_EQ(run.Err.rfind("mutone-pack: mutone64.scr: runtime: not found at " + bin + "mutone64.scr or ", 0), 0u)
        << run.Err;
    WriteFileBytes(bin + "mutone64.scr", x64Image);

    const struct {
        std::vector<std::string> Args;
        const std::vector<uint8_t>* Image;
        const char* Arch;
    } rows[] = {
        {{"clip.swf"}, &x86Image, "x86"},
        {{"clip.swf", "--arch", "x64"}, &x64Image, "x64"},
        {{"x64.toml"}, &x64Image, "x64"},
        {{"x64.toml", "--arch", "x86"}, &x86Image, "x86"},
        {{"clip.swf", "--set", "arch=x64"}, &x64Image, "x64"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = {"build", "-o", "Out.scr"};
        args.insert(args.end(), row.Args.begin(), row.Args.end());
        run = RunProgram(tool, args, FDir.Path());
        ASSERT_EQ(run.Code, 0) << row.Args.back() << ": " << run.Err;
        const std::vector<uint8_t> out = ReadFileBytes(File("Out.scr"));
        ASSERT_GT(out.size(), row.Image->size());
        EXPECT_TRUE(std::equal(row.Image->begin(), row.Image->end(), out.begin())) << row.Args.back();
        TRun info = RunProgram(tool, {"info", "Out.scr"}, FDir.Path());
        EXPECT_NE(info.Out.find("\narch: " + std::string(row.Arch) + "\n"), std::string::npos) << info.Out;
        info = RunProgram(tool, {"info", "--json", "Out.scr"}, FDir.Path());
        EXPECT_NE(info.Out.find("\"arch\":\"" + std::string(row.Arch) + "\""), std::string::npos) << info.Out;
    }

    // A runtime of the wrong kind is an error, named with the file, and nothing is written.
    std::filesystem::remove(File("Out.scr"));
    WriteFileBytes(File("own.scr"), x86Image);
    run = RunProgram(tool, {"build", "x64.toml", "-o", "Out.scr", "--runtime", "own.scr"}, FDir.Path());
    EXPECT_EQ(run.Code, 1);
    EXPECT_EQ(run.Err, "mutone-pack: own.scr: runtime: is a program for x86, but the screensaver is to be x64 (arch); "
                       "give --arch or a runtime for x64\n");
    WriteFileBytes(bin + "mutone64.scr", x86Image); // misplaced beside the tool
    run = RunProgram(tool, {"build", "clip.swf", "-o", "Out.scr", "--arch", "x64"}, FDir.Path());
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("mutone64.scr: runtime: is a program for x86"), std::string::npos) << run.Err;
    std::vector<uint8_t> arm = x64Image;
    arm[128 + 4] = 0x64; // machine 0xAA64, ARM64
    arm[128 + 5] = 0xAA;
    WriteFileBytes(File("arm.scr"), arm);
    run = RunProgram(tool, {"build", "clip.swf", "-o", "Out.scr", "--runtime", "arm.scr"}, FDir.Path());
    EXPECT_NE(run.Err.find("arm.scr: runtime: is a program for machine 0xaa64, magic 0x20b, but"), std::string::npos)
        << run.Err;
    EXPECT_NE(RunProgram(tool, {"info", "arm.scr"}, FDir.Path()).Out.find("\narch: machine 0xaa64, magic 0x20b\n"),
              std::string::npos);
    EXPECT_NE(RunProgram(tool, {"info", "--json", "arm.scr"}, FDir.Path()).Out.find("\"arch\":\"other\""),
              std::string::npos);
    run = RunProgram(tool, {"build", "clip.swf", "-o", "Out.scr", "--arch", "arm64"}, FDir.Path());
    EXPECT_EQ(run.Code, 2);
    EXPECT_NE(run.Err.find("must be x86 or x64, not \"arm64\""), std::string::npos) << run.Err;
    EXPECT_FALSE(FileExistsHere("Out.scr"));
}

// Paths as Windows users write them: relative ones with backslashes, absolute ones with a drive letter, folders
// with spaces, in the manifest, on the command line and for the output.
TEST_F(PackProcess, TakesTheSystemsOwnPaths) {
    const std::string tool = InstallTool("Program Files/mutone");
    WriteFileBytes(JoinPath(File("Program Files/mutone"), "mutone.scr"), BuildSimplePEImage());
    std::filesystem::create_directories(File("My Movies/media files"));
    const std::vector<uint8_t> movie = BuildSWF(SimpleMovie(550, 400, 0, false));
    WriteFileBytes(File("My Movies/media files/clip one.swf"), movie);
    WriteText("notes folder/read me.txt", "hello");
#ifdef _WIN32
    const std::string sep = "\\";
    ASSERT_EQ(FDir.Path().substr(1, 2), ":\\") << "a drive letter and backslashes: " << FDir.Path();
#else
    const std::string sep = "/";
#endif
    // A TOML literal string takes the backslashes as they stand.
    WriteText("My Movies/clock.toml", "[movie]\nfile = 'media files" + sep + "clip one.swf'\n[[files]]\npath = '" +
                                          File("notes folder" + sep + "read me.txt") + "'\n");
    const std::string output = File("Out Folder" + sep + "My Clock.scr");
    const TRun run =
        RunProgram(tool, {"build", File("My Movies" + sep + "clock.toml"), "-o", output}, File("My Movies"));
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(run.Out.substr(0, 6 + output.size()), "wrote " + output);
    TStoreReport report;
    ReadStoreReport(output, report);
    ASSERT_EQ(report.Items.size(), 7u);
    const TItemType& stored = report.Items[3];
    EXPECT_EQ(std::vector<uint8_t>(stored.Data, stored.Data + stored.Size), movie);
    EXPECT_EQ(FilesIn("Out Folder"), std::vector<std::string>{"My Clock.scr"}) << "no partial file left";
}

#ifndef _WIN32
// Packing streams its inputs: a movie of hundreds of MiB passes through buffers of a few dozen KiB. The movie is
// above the 256 MiB the screensaver once could not go beyond, and the tool's own listing still reads it.
TEST_F(PackProcess, AMovieOfHundredsOfMegabytesIsStreamed) {
    const std::vector<uint8_t> head = BuildSWF(SimpleMovie(550, 400, 0, false));
    WriteFileBytes(File("big.swf"), head);
    ResizeFile(File("big.swf"), 300ll * 1024 * 1024);
    WriteFileBytes(File("mutone.scr"), BuildSimplePEImage());
    const TRun run =
        RunProgram(MUTONE_PACK_PROGRAM, {"build", "big.swf", "-o", "big.scr", "--runtime", "mutone.scr"}, FDir.Path());
    ASSERT_EQ(run.Code, 0) << run.Err;
    // About 5 MiB here, below 100 with AddressSanitizer's own bookkeeping; holding the movie whole takes 200 more.
#ifdef __SANITIZE_ADDRESS__
    const long limitKiB = 128 * 1024;
#else
    const long limitKiB = 32 * 1024;
#endif
    EXPECT_LT(run.PeakKiB, limitKiB) << "a 300 MiB movie took " << run.PeakKiB / 1024 << " MiB";

    // Reading it back holds no more of it: list measures the movie, extract inflates it into its file in pieces.
    const TRun list = RunProgram(MUTONE_PACK_PROGRAM, {"list", "--json", "big.scr"}, FDir.Path());
    ASSERT_EQ(list.Code, 0) << list.Err;
    EXPECT_NE(list.Out.find("\"size\": 314572800"), std::string::npos) << list.Out;
    EXPECT_LT(list.PeakKiB, limitKiB) << "listing took " << list.PeakKiB / 1024 << " MiB";
    const TRun extract = RunProgram(MUTONE_PACK_PROGRAM, {"extract", "big.scr", "items"}, FDir.Path());
    ASSERT_EQ(extract.Code, 0) << extract.Err;
    EXPECT_LT(extract.PeakKiB, limitKiB) << "extracting took " << extract.PeakKiB / 1024 << " MiB";
    EXPECT_EQ(RegularFileSize(File("items/0003.bin")), std::optional<int64_t>(300ll * 1024 * 1024));
    std::vector<uint8_t> extracted(head.size());
    {
        std::ifstream in(File("items/0003.bin"), std::ios::binary);
        in.read(reinterpret_cast<char*>(extracted.data()), static_cast<std::streamsize>(extracted.size()));
    }
    EXPECT_EQ(extracted, head);
}
#endif

} // namespace

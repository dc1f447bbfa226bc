#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "uPackFiles.h"

std::string ToolExecutablePath() {
    std::vector<char> buffer(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
    return std::string(buffer.data(), static_cast<size_t>(n));
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool RenameOver(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& fileName) {
    return ::unlink(fileName.c_str()) == 0;
}

std::optional<int64_t> RegularFileSize(const std::string& fileName) {
    struct stat st;
    if (::stat(fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<int64_t>(st.st_size);
}

bool CreateDirectories(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const std::string parent = DirectoryOf(path.back() == '/' ? path.substr(0, path.size() - 1) : path);
    if (!parent.empty() && parent != path && !CreateDirectories(parent)) return false;
    return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

bool RemoveEmptyFolder(const std::string& path) {
    return ::rmdir(path.c_str()) == 0;
}

bool CreateNewFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0700) == 0;
}

bool SetModificationTime(const std::string& fileName, int64_t unixTime) {
    const struct timespec times[2] = {{static_cast<time_t>(unixTime), 0}, {static_cast<time_t>(unixTime), 0}};
    return ::utimensat(AT_FDCWD, fileName.c_str(), times, 0) == 0;
}

std::string FindProgram(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "/usr/bin:/bin";
    while (true) {
        const size_t colon = rest.find(':');
        const std::string folder(rest.substr(0, colon));
        const std::string candidate = JoinPath(folder.empty() ? "." : folder, name);
        if (::access(candidate.c_str(), X_OK) == 0 && RegularFileSize(candidate)) return candidate;
        if (colon == std::string_view::npos) return {};
        rest.remove_prefix(colon + 1);
    }
}

int RunProgram(const std::vector<std::string>& args, const std::string& folder, const std::string& logFile) {
    if (args.empty()) return -1;
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (log < 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        const int input = ::open("/dev/null", O_RDONLY);
        if (input < 0 || ::dup2(input, 0) < 0 || ::dup2(log, 1) < 0 || ::dup2(log, 2) < 0 ||
            ::chdir(folder.c_str()) != 0)
            ::_exit(127);
        // Tools that store local times (a cabinet's file dates) store the same ones on every machine.
        ::setenv("TZ", "UTC0", 1);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(log);
    if (child < 0) return -1;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

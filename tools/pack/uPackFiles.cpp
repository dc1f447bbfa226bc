#include "uPackFiles.h"

namespace {

#ifdef _WIN32
constexpr char NativeSeparator = '\\';
#else
constexpr char NativeSeparator = '/';
#endif

size_t LastSeparator(std::string_view path) {
    for (size_t i = path.size(); i > 0; --i)
        if (IsPathSeparator(path[i - 1])) return i - 1;
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':') return 1; // "C:name" is name on drive C
#endif
    return std::string_view::npos;
}

} // namespace

bool IsPathSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

bool IsAbsolutePath(std::string_view path) {
    if (!path.empty() && IsPathSeparator(path[0])) return true;
#ifdef _WIN32
    const bool letter = !path.empty() && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if (letter && path.size() >= 2 && path[1] == ':') return true;
#endif
    return false;
}

std::string DirectoryOf(std::string_view path) {
    const size_t cut = LastSeparator(path);
    return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

std::string FileNameOf(std::string_view path) {
    const size_t cut = LastSeparator(path);
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string JoinPath(std::string_view directory, std::string_view name) {
    if (directory.empty() || IsAbsolutePath(name)) return std::string(name);
    std::string path(directory);
    if (!IsPathSeparator(path.back()) && !(path.size() == 2 && path[1] == ':')) path += NativeSeparator;
    return path + std::string(name);
}

#include "uPathSafety.h"

#include <array>
#include <string>

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
    return true;
}

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Windows maps these names to devices in every folder, whatever extension follows them.
bool IsDeviceName(std::string_view name) {
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);
    static constexpr std::array<std::string_view, 7> kFixed = {"CON",    "PRN",     "AUX",   "NUL",
                                                               "CONIN$", "CONOUT$", "CLOCK$"};
    for (std::string_view device : kFixed)
        if (EqualsIgnoringCase(base, device)) return true;
    if (base.size() == 4 &&
        (EqualsIgnoringCase(base.substr(0, 3), "COM") || EqualsIgnoringCase(base.substr(0, 3), "LPT"))) {
        unsigned char digit = static_cast<unsigned char>(base[3]);
        // The superscript digits of the Latin-1 code page count as well.
        return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    }
    return false;
}

bool IsAbsoluteFolder(std::string_view folder) {
    if (folder.size() >= 3 && IsDriveLetter(folder[0]) && folder[1] == ':' && folder[2] == '\\') return true;
    return folder.size() >= 3 && folder[0] == '\\' && folder[1] == '\\' && !IsSeparator(folder[2]);
}

} // namespace

bool IsSafeFileName(std::string_view name) {
    if (name.empty() || name.size() > 255) return false;
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20) return false;
        switch (c) {
        case '<':
        case '>':
        case ':':
        case '"':
        case '/':
        case '\\':
        case '|':
        case '?':
        case '*':
            return false;
        default:
            break;
        }
    }
    // Windows drops trailing dots and spaces, so "a." names "a", and ".." hides behind "..  ".
    if (name.back() == '.' || name.back() == ' ') return false;
    return !IsDeviceName(name);
}

bool IsSafeRelativeName(std::string_view path) {
    if (path.empty()) return false;
    for (;;) {
        size_t end = 0;
        while (end < path.size() && !IsSeparator(path[end]))
            ++end;
        if (!IsSafeFileName(path.substr(0, end))) return false;
        if (end == path.size()) return true;
        path.remove_prefix(end + 1);
    }
}

bool PathIsInside(std::string_view folder, std::string_view path) {
    if (!IsAbsoluteFolder(folder)) return false;
    while (!folder.empty() && folder.back() == '\\')
        folder.remove_suffix(1);
    if (path.size() <= folder.size() + 1 || path[folder.size()] != '\\') return false;
    if (!EqualsIgnoringCase(path.substr(0, folder.size()), folder)) return false;
    return IsSafeRelativeName(path.substr(folder.size() + 1));
}

bool IsRootPath(std::string_view path) {
    while (!path.empty() && IsSeparator(path.back()))
        path.remove_suffix(1);
    if (path.empty()) return true;
    if (path.size() == 2 && IsDriveLetter(path[0]) && path[1] == ':') return true;
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        // \\server or \\server\share, and the \\?\ and \\.\ prefixes followed by a drive.
        std::string_view rest = path.substr(2);
        size_t separators = 0;
        for (char c : rest)
            separators += IsSeparator(c);
        if (separators <= 1) return true;
        if (rest.substr(0, 2) == "?\\" || rest.substr(0, 2) == ".\\") {
            rest.remove_prefix(2);
            if (EqualsIgnoringCase(rest.substr(0, 4), "UNC\\")) return IsRootPath("\\\\" + std::string(rest.substr(4)));
            return IsRootPath(rest);
        }
    }
    return false;
}

#include "uFileUrl.h"

namespace {

bool ShellEscapes(wchar_t c) {
    if (c <= 0x1F || (c >= 0x7F && c <= 0xFF)) return true;
    switch (c) {
    case L' ':
    case L'"':
    case L'#':
    case L'%':
    case L'&':
    case L'<':
    case L'>':
    case L'[':
    case L']':
    case L'^':
    case L'`':
    case L'{':
    case L'|':
    case L'}':
        return true;
    default:
        return false;
    }
}

bool IsAsciiLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

} // namespace

std::wstring FileUrlFromPath(std::wstring_view path) {
    static const wchar_t Hex[] = L"0123456789ABCDEF";
    // No file, no URL: a run without a movie hands the player an empty movie, as it always has.
    if (path.empty()) return {};
    std::wstring url = L"file:";
    // A drive path gets an empty host; a UNC path brings its host along with its two leading separators.
    if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == L':') url += L"///";
    for (wchar_t c : path) {
        if (c == L'\\') {
            url += L'/';
        } else if (ShellEscapes(c)) {
            const auto unit = static_cast<unsigned>(c);
            url += L'%';
            url += Hex[(unit >> 4) & 0xF];
            url += Hex[unit & 0xF];
        } else {
            url += c;
        }
    }
    return url;
}

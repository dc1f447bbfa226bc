#include "uBrowser.h"

#include <vector>

#include "support/uSysUtils.h"

namespace {

bool IsBlank(char c) {
    return c != '\0' && static_cast<unsigned char>(c) <= ' ';
}

// The pieces of a comma-separated list as the system's string lists read it: blanks around pieces are skipped,
// a blank or comma ends an unquoted piece, a quoted piece runs to its closing quote (a doubled quote standing for
// one) and loses its quotes, and a comma at the very end adds an empty piece. The text ends at a NUL.
std::vector<std::string> SplitCommaText(std::string_view text) {
    std::vector<std::string> pieces;
    const size_t end = std::min(text.find('\0'), text.size());
    size_t at = 0;
    auto skipBlanks = [&] {
        while (at < end && IsBlank(text[at]))
            ++at;
    };
    skipBlanks();
    while (at < end) {
        std::string piece;
        if (text[at] == '"') {
            for (++at; at < end; ++at) {
                if (text[at] != '"') {
                    piece += text[at];
                } else if (at + 1 < end && text[at + 1] == '"') {
                    piece += '"';
                    ++at;
                } else {
                    ++at;
                    break;
                }
            }
        } else {
            const size_t first = at;
            while (at < end && !IsBlank(text[at]) && text[at] != ',')
                ++at;
            piece.assign(text.substr(first, at - first));
        }
        pieces.push_back(std::move(piece));
        skipBlanks();
        if (at < end && text[at] == ',') {
            if (at + 1 == end) pieces.emplace_back();
            ++at;
            skipBlanks();
        }
    }
    return pieces;
}

bool IsSchemeChar(char c, bool first) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (first) return letter;
    return letter || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// Digits up to the end, a slash, a query or a fragment: what follows a host name's colon.
bool IsPort(std::string_view rest) {
    size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
        ++digits;
    return digits > 0 && (digits == rest.size() || rest[digits] == '/' || rest[digits] == '?' || rest[digits] == '#');
}

bool HasScheme(std::string_view url) {
    size_t start = 0;
    while (start < url.size() && (url[start] == '\r' || url[start] == '\n'))
        ++start;
    bool quoted = false;
    size_t colon = std::string_view::npos;
    for (size_t i = start; i < url.size(); ++i) {
        if (url[i] == '"') quoted = !quoted;
        if (url[i] == ':' && !quoted) {
            colon = i;
            break;
        }
    }
    if (colon == std::string_view::npos) return false;
    const std::string_view scheme = url.substr(start, colon - start);
    // One letter is a drive, never a scheme.
    if (scheme.size() < 2) return false;
    for (size_t i = 0; i < scheme.size(); ++i)
        if (!IsSchemeChar(scheme[i], i == 0)) return false;
    return !IsPort(url.substr(colon + 1));
}

} // namespace

std::string BrowserExecutable(std::string_view command) {
    std::string result;
    for (const std::string& piece : SplitCommaText(UnquoteString(command, '"'))) {
        if (piece.find_first_of("-/%") != std::string::npos) continue;
        result += piece;
        result += ' ';
    }
    return Trim(result);
}

std::string NormalizeURL(std::string_view url) {
    if (url.empty() || HasScheme(url)) return std::string(url);
    return "http://" + std::string(url);
}

std::string CommandLineURL(std::string_view url) {
    static const char digits[] = "0123456789ABCDEF";
    std::string result;
    for (char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte == 0x7F || c == '"') {
            result += '%';
            result += digits[byte >> 4];
            result += digits[byte & 15];
        } else {
            result += c;
        }
    }
    return result;
}

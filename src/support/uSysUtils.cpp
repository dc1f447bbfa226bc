#include "uSysUtils.h"

#include <algorithm>
#include <climits>

#include "forms/SysUtils.h"

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Every digit must be hexadecimal and there must be at least one; at most eight fit.
bool ParseHex(std::string_view digits, uint32_t& value) {
    if (digits.empty() || digits.size() > 8) return false;
    value = 0;
    for (char c : digits) {
        int d = HexDigit(c);
        if (d < 0) return false;
        value = value << 4 | static_cast<uint32_t>(d);
    }
    return true;
}

void RemoveAll(std::string& text, std::string_view what) {
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at))
        text.erase(at, what.size());
}

void CutAt(std::string& text, std::string_view what) {
    size_t at = text.find(what);
    if (at != std::string::npos) text.resize(at);
}

std::string WithoutArguments(std::string text) {
    RemoveAll(text, "%1");
    RemoveAll(text, "'");
    return text;
}

} // namespace

std::string Trim(std::string_view text) {
    size_t first = 0, last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return std::string(text.substr(first, last - first));
}

std::string RemoveTrailingChar(std::string_view text, char c) {
    if (!text.empty() && text.back() == c) text.remove_suffix(1);
    return std::string(text);
}

std::string QuoteString(std::string_view text, char quote) {
    std::string result(1, quote);
    for (char c : text) {
        result += c;
        if (c == quote) result += c;
    }
    result += quote;
    return result;
}

std::string UnquoteString(std::string_view text, char quote) {
    std::string result;
    if (!text.empty() && text.front() == quote) {
        for (size_t i = 1; i < text.size(); ++i) {
            if (text[i] != quote) {
                result += text[i];
            } else if (i + 1 < text.size() && text[i + 1] == quote) {
                result += quote;
                ++i;
            } else {
                break;
            }
        }
    }
    if (result.empty() && !text.empty()) return std::string(text);
    return result;
}

std::string ExtractOpenCommandProgram(std::string_view command) {
    std::string text(command);
    size_t open = text.find('"');
    size_t close = open == std::string::npos ? open : text.find('"', open + 1);
    // A first quoted part that holds nothing but the argument placeholder ("%1") is not the program: taking it
    // would turn `C:\app.exe "%1"` into "". Such commands fall through to the unquoted handling.
    if (close != std::string::npos) {
        std::string quoted = text.substr(open + 1, close - open - 1);
        if (!Trim(WithoutArguments(quoted)).empty()) text = quoted;
    }
    if (text.find('"') != std::string::npos) {
        CutAt(text, " -");
        CutAt(text, " /");
        RemoveAll(text, "\"");
    }
    text = Trim(WithoutArguments(text));
    if (text.empty()) return {};
    return QuoteString(text, '"');
}

void SplitToList(std::vector<std::string>& list, std::string_view text, char separator) {
    list.clear();
    while (!text.empty()) {
        size_t at = text.find(separator);
        if (at == std::string_view::npos) {
            list.emplace_back(text);
            break;
        }
        list.emplace_back(text.substr(0, at));
        text.remove_prefix(at + 1);
    }
}

int32_t ListItemAsInt(const std::vector<std::string>& list, int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= list.size()) return 0;
    std::string_view item = list[static_cast<size_t>(index)];
    while (!item.empty() && item.front() == ' ')
        item.remove_prefix(1);
    bool negative = false;
    if (!item.empty() && (item.front() == '-' || item.front() == '+')) {
        negative = item.front() == '-';
        item.remove_prefix(1);
    }
    if (item.empty()) return 0;
    int64_t value = 0;
    for (char c : item) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) return 0;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return 0;
    return static_cast<int32_t>(value);
}

int32_t CompareVersions(std::string_view a, std::string_view b) {
    std::vector<std::string> fieldsA, fieldsB;
    SplitToList(fieldsA, a, '.');
    SplitToList(fieldsB, b, '.');
    size_t count = std::max(fieldsA.size(), fieldsB.size());
    for (size_t i = 0; i < count; ++i) {
        int32_t fieldA = ListItemAsInt(fieldsA, static_cast<int32_t>(i));
        int32_t fieldB = ListItemAsInt(fieldsB, static_cast<int32_t>(i));
        if (fieldA > fieldB) return 1;
        if (fieldA < fieldB) return -1;
    }
    return 0;
}

bool VersionAtLeast(std::string_view version, std::string_view required) {
    return CompareVersions(version, required) >= 0;
}

int32_t TakeHexByte(std::string& text) {
    size_t count = std::min<size_t>(2, text.size());
    uint32_t value = 0;
    if (!ParseHex(std::string_view(text).substr(0, count), value)) value = 0;
    text.erase(0, count);
    return static_cast<int32_t>(value);
}

std::string DecodeString(std::string_view enciphered) {
    if (enciphered.empty()) return {};
    size_t trailerLength = std::min<size_t>(8, enciphered.size());
    std::string_view trailer = enciphered.substr(enciphered.size() - trailerLength);
    uint32_t rotation = 0;
    if (!ParseHex(trailer, rotation))
        throw EConvertError("'" + std::string(trailer) + "' is not a valid integer value");
    std::string rest(enciphered.substr(0, enciphered.size() - trailerLength));

    // The trailer is a signed 32-bit count: a negative one, like one beyond the text, leaves the text as it is.
    int32_t signedRotation = static_cast<int32_t>(rotation);
    if (signedRotation > 0 && static_cast<size_t>(signedRotation) < rest.size())
        std::rotate(rest.begin(), rest.end() - signedRotation, rest.end());

    size_t fillers = static_cast<size_t>(TakeHexByte(rest));
    rest.resize(rest.size() - std::min(rest.size(), 2 * fillers));
    int32_t key = TakeHexByte(rest);

    std::string plain;
    plain.reserve(rest.size() / 2);
    for (size_t pairs = rest.size() / 2; pairs > 0; --pairs)
        plain += static_cast<char>(static_cast<uint8_t>(TakeHexByte(rest) ^ key));
    return plain;
}

std::string FormatUniqueFileName(std::string_view directory, std::string_view extension, std::string_view separator,
                                 int year, int month, int day, int32_t msOfDay) {
    char date[16];
    date[0] = static_cast<char>('0' + year / 1000 % 10);
    date[1] = static_cast<char>('0' + year / 100 % 10);
    date[2] = static_cast<char>('0' + year / 10 % 10);
    date[3] = static_cast<char>('0' + year % 10);
    date[4] = static_cast<char>('0' + month / 10 % 10);
    date[5] = static_cast<char>('0' + month % 10);
    date[6] = static_cast<char>('0' + day / 10 % 10);
    date[7] = static_cast<char>('0' + day % 10);
    std::string name(directory);
    name.append(date, 8);
    name += separator;
    name += std::to_string(msOfDay);
    if (!extension.empty() && extension.front() != '.') name += '.';
    name += extension;
    return name;
}

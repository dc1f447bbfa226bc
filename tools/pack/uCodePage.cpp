#include "uCodePage.h"

#include <cstdio>

bool IsValidUtf8(std::string_view text) {
    while (!text.empty()) {
        const auto decoded = DecodeUtf8(text);
        if (!decoded) return false;
        text.remove_prefix(decoded->second);
    }
    return true;
}

bool IsSupportedCodePage(int codePage) {
    return codePage == 874 || codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950 ||
           (codePage >= 1250 && codePage <= 1258) || codePage == 65001;
}

std::optional<std::pair<char32_t, size_t>> DecodeUtf8(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return std::make_pair(char32_t{lead}, size_t{1});
    size_t length;
    char32_t value;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07;
    } else {
        return std::nullopt;
    }
    if (text.size() < length) return std::nullopt;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return std::nullopt;
        value = value << 6 | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not UTF-8.
    static constexpr char32_t Smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < Smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
    return std::make_pair(value, length);
}

std::string DescribeCharacter(std::string_view utf8) {
    const auto decoded = DecodeUtf8(utf8);
    if (!decoded) return "a byte that is not UTF-8";
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(decoded->first));
    if (decoded->first < 0x20 || decoded->first == 0x7F) return code;
    return std::string(code) + " '" + std::string(utf8.substr(0, decoded->second)) + "'";
}

std::optional<std::string> Utf8ToCodePage(std::string_view utf8, int codePage, std::string& problem) {
    if (!IsValidUtf8(utf8)) {
        problem = "the text is not UTF-8";
        return std::nullopt;
    }
    if (!IsSupportedCodePage(codePage)) {
        problem = "code page " + std::to_string(codePage) + " is not supported";
        return std::nullopt;
    }
    if (codePage == 65001) return std::string(utf8);
    return ConvertFromUtf8(utf8, codePage, problem);
}

std::optional<std::string> CodePageToUtf8(std::string_view bytes, int codePage, std::string& problem) {
    if (!IsSupportedCodePage(codePage)) {
        problem = "code page " + std::to_string(codePage) + " is not supported";
        return std::nullopt;
    }
    if (codePage == 65001) {
        if (IsValidUtf8(bytes)) return std::string(bytes);
        problem = "the text is not UTF-8";
        return std::nullopt;
    }
    return ConvertToUtf8(bytes, codePage, problem);
}

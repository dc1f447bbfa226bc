#include <windows.h>

#include <string>

#include "uCodePage.h"

namespace {

std::wstring Widen(std::string_view text, UINT codePage, DWORD flags) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return n > 0 ? wide : std::wstring();
}

// The text in the code page; none when a character had no code of its own (no best fit, no default character).
std::optional<std::string> Narrow(std::wstring_view wide, UINT codePage) {
    if (wide.empty()) return std::string();
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, &usedDefault);
    if (n <= 0 || usedDefault) return std::nullopt;
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), text.data(), n,
                        nullptr, &usedDefault);
    if (usedDefault) return std::nullopt;
    return text;
}

std::string Replace(std::string text, std::string_view from, std::string_view to) {
    const size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

} // namespace

std::optional<std::string> ConvertFromUtf8(std::string_view utf8, int codePage, std::string& problem) {
    const std::wstring wide = Widen(utf8, CP_UTF8, MB_ERR_INVALID_CHARS);
    if (auto text = Narrow(wide, static_cast<UINT>(codePage))) return text;
    // Find the character to name, one at a time.
    for (std::string_view rest = utf8; !rest.empty();) {
        const auto decoded = DecodeUtf8(rest);
        const size_t length = decoded ? decoded->second : 1;
        if (!Narrow(Widen(rest.substr(0, length), CP_UTF8, MB_ERR_INVALID_CHARS), static_cast<UINT>(codePage))) {
            problem = DescribeCharacter(rest) + " has no code in code page " + std::to_string(codePage);
            return std::nullopt;
        }
        rest.remove_prefix(length);
    }
    problem = "the text cannot be written in code page " + std::to_string(codePage);
    return std::nullopt;
}

std::optional<std::string> ConvertToUtf8(std::string_view bytes, int codePage, std::string& problem) {
    const std::wstring wide = Widen(bytes, static_cast<UINT>(codePage), MB_ERR_INVALID_CHARS);
    if (wide.empty() && !bytes.empty()) {
        problem = "the bytes are no text of code page " + std::to_string(codePage);
        return std::nullopt;
    }
    if (wide.empty()) return std::string();
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n, nullptr, nullptr);
    return text;
}

std::optional<std::string> Utf8ToSystem(std::string_view utf8, std::string& problem) {
    auto text = ConvertFromUtf8(utf8, CP_ACP, problem);
    if (!text) problem = Replace(problem, "code page 0", "this system's code page");
    return text;
}

std::optional<std::string> SystemToUtf8(std::string_view text, std::string& problem) {
    return ConvertToUtf8(text, CP_ACP, problem);
}

// The manifest's texts are UTF-8; the screensaver reads 8-bit texts in the system's ANSI code page. These convert
// between the two, refusing what a code page cannot hold rather than putting a substitute in its place.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The Japanese code page: the settings dialog's own texts and font are Japanese, so that is the system the
// screensaver is made for.
inline constexpr int DefaultCodePage = 932;

bool IsValidUtf8(std::string_view text);

// The Windows ANSI code pages (874, 932, 936, 949, 950, 1250 to 1258) and UTF-8 (65001).
bool IsSupportedCodePage(int codePage);

// The text in the code page; none when it holds a character the code page has no code for, or is not UTF-8.
// problem then names the first such character ("U+00E9 'é'") or says what is wrong.
std::optional<std::string> Utf8ToCodePage(std::string_view utf8, int codePage, std::string& problem);
// The inverse; none for bytes that are no text of the code page.
std::optional<std::string> CodePageToUtf8(std::string_view bytes, int codePage, std::string& problem);

// Paths and command-line texts as the system takes them (this project uses the ANSI functions of Windows, so
// there the ANSI code page; elsewhere UTF-8 itself) from and to UTF-8. None for what the system cannot name,
// with problem saying why.
std::optional<std::string> Utf8ToSystem(std::string_view utf8, std::string& problem);
std::optional<std::string> SystemToUtf8(std::string_view text, std::string& problem);

// The platform's halves of the two above, for the code pages other than UTF-8 (iconv; WideCharToMultiByte).
std::optional<std::string> ConvertFromUtf8(std::string_view utf8, int codePage, std::string& problem);
std::optional<std::string> ConvertToUtf8(std::string_view bytes, int codePage, std::string& problem);

// The code point of the UTF-8 sequence at the start of text and its length; none for a malformed sequence.
std::optional<std::pair<char32_t, size_t>> DecodeUtf8(std::string_view text);
// "U+00E9 'é'" for the character at the start of text.
std::string DescribeCharacter(std::string_view utf8);

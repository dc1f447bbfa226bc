// Compile-time encipherment of the program's fixed texts, the inverse of DecodeString.
//
// An enciphered constant is a string of hexadecimal digits:
//     body    = hex(P) hex(K) hex(c1 ^ K) ... hex(cn ^ K) followed by 2*P filler characters
//     stored  = body rotated left by R characters (when 0 <= R < length of body; otherwise body itself)
//     result  = stored followed by R as 8 hexadecimal digits
// DecodeString reads R from the trailer, rotates right by R, drops the fillers and XORs with K.
//
//     constexpr auto kScale = EncipherConstant<"showall">();             // key, fillers, rotation from the text
//     constexpr auto kOther = EncipherConstant<"noborder", 0x5A, 3, 7>(); // chosen by hand
//     std::string scale = DecodeString(kScale);
//
// EncipherConstant is consteval and the plain text only ever appears as a template argument, so it never
// reaches the executable: only the digits do.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A string literal usable as a template argument.
template <size_t N> struct TFixedString {
    char Chars[N]{};
    consteval TFixedString(const char (&text)[N]) {
        for (size_t i = 0; i < N; ++i)
            Chars[i] = text[i];
    }
    static constexpr size_t Length = N - 1;
};

// The digits of one enciphered constant, NUL-terminated.
template <size_t N> struct TEncipheredText {
    char Chars[N + 1]{};
    static constexpr size_t Length = N;
    constexpr std::string_view View() const { return {Chars, N}; }
    constexpr operator std::string_view() const { return View(); }
    const char* c_str() const { return Chars; }
};

namespace cipher_detail {

inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// FNV-1a: a fixed, documented hash so that the same text always gives the same constant.
constexpr uint32_t Hash(const char* text, size_t length, uint32_t seed = 2166136261u) {
    uint32_t hash = seed;
    for (size_t i = 0; i < length; ++i) {
        hash ^= static_cast<uint8_t>(text[i]);
        hash *= 16777619u;
    }
    return hash;
}

constexpr size_t BodyLength(size_t plainLength, int fillers) {
    return 4 + 2 * plainLength + 2 * size_t(fillers);
}

constexpr void PutHex(char* out, uint32_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        out[i] = kHexDigits[value & 15];
}

// Writes BodyLength + 8 characters to out.
constexpr void Encipher(const char* plain, size_t length, int key, int fillers, int32_t rotation, char* out) {
    PutHex(out, static_cast<uint32_t>(fillers), 2);
    PutHex(out + 2, static_cast<uint32_t>(key), 2);
    char* p = out + 4;
    for (size_t i = 0; i < length; ++i, p += 2)
        PutHex(p, static_cast<uint8_t>(plain[i]) ^ static_cast<uint32_t>(key), 2);
    // Fillers are hex digits too, so that they cannot be told from the text; their values carry nothing.
    uint32_t noise = Hash(plain, length, 0x9E3779B9u ^ static_cast<uint32_t>(key));
    for (int i = 0; i < 2 * fillers; ++i, ++p) {
        noise = noise * 1664525u + 1013904223u;
        *p = kHexDigits[noise >> 28];
    }
    size_t body = BodyLength(length, fillers);
    if (rotation > 0 && static_cast<size_t>(rotation) < body) std::rotate(out, out + rotation, out + body);
    PutHex(out + body, static_cast<uint32_t>(rotation), 8);
}

} // namespace cipher_detail

// Defaults derived from the text alone: a key that is never 0 (0 would leave the text's own bytes as digits),
// one to four filler bytes and a rotation somewhere inside the body.
template <size_t N> consteval int DefaultCipherKey(const TFixedString<N>& text) {
    return 1 + static_cast<int>(cipher_detail::Hash(text.Chars, text.Length) % 255);
}
template <size_t N> consteval int DefaultCipherFillers(const TFixedString<N>& text) {
    return 1 + static_cast<int>(cipher_detail::Hash(text.Chars, text.Length) >> 8 & 3);
}
template <size_t N> consteval int32_t DefaultCipherRotation(const TFixedString<N>& text, int fillers) {
    return static_cast<int32_t>((cipher_detail::Hash(text.Chars, text.Length) >> 12) %
                                cipher_detail::BodyLength(text.Length, fillers));
}

template <TFixedString Text, int Key = DefaultCipherKey(Text), int Fillers = DefaultCipherFillers(Text),
          int32_t Rotation = DefaultCipherRotation(Text, Fillers)>
consteval auto EncipherConstant() {
    static_assert(Key >= 0 && Key <= 255, "the key is one byte");
    static_assert(Fillers >= 0 && Fillers <= 255, "the filler count is one byte");
    TEncipheredText<cipher_detail::BodyLength(Text.Length, Fillers) + 8> result{};
    cipher_detail::Encipher(Text.Chars, Text.Length, Key, Fillers, Rotation, result.Chars);
    return result;
}

// The same encipherment at run time, for texts that are not known at compile time (tests, tools).
// key and fillers are bytes; any rotation is allowed (outside the body it leaves the body unrotated).
inline std::string EncipherString(std::string_view plain, uint8_t key, uint8_t fillers, int32_t rotation) {
    std::string result(cipher_detail::BodyLength(plain.size(), fillers) + 8, '0');
    cipher_detail::Encipher(plain.data(), plain.size(), key, fillers, rotation, result.data());
    return result;
}

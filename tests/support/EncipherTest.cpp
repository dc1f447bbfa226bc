#include <array>
#include <random>

#include <gtest/gtest.h>

#include "forms/SysUtils.h"
#include "support/uEncipher.h"
#include "support/uSysUtils.h"

namespace {

// Constants laid out by hand (a short script outside the program), pinning the format independently of the
// encoder: fillers, key, XORed text, filler digits, rotation, trailer.
TEST(SupportDecode, HandMadeConstants) {
    struct Row {
        const char* Enciphered;
        const char* Plain;
    };
    const Row rows[] = {
        {"01216948C300000000", "Hi"},                    // key 21, one filler byte "C3", no rotation
        {"2352D3B36360F1E2D035A29300000007", "showall"}, // key 5A, three fillers, rotated by 7
        {"9C8C5C8D5C3C2D500A7C00000005", "noborder"},    // key A7, no fillers, rotated by 5
        {"02004B6579ABCD00000000", "Key"},               // key 0
        {"017F0799FFFFFFFD", "x"},                       // rotation -3: left as it is
        {"00104471797C00000064", "Tail"},                // rotation 100, beyond the text: left as it is
        {"35c5800300000003", "ok"},                      // lower-case digits
    };
    for (const Row& row : rows)
        EXPECT_EQ(DecodeString(row.Enciphered), row.Plain) << row.Enciphered;
}

TEST(SupportDecode, EdgeCases) {
    EXPECT_EQ(DecodeString(""), "");
    // Only a trailer, or less: nothing is left to decode.
    EXPECT_EQ(DecodeString("00000000"), "");
    EXPECT_EQ(DecodeString("12"), "");
    // An odd last character is ignored.
    EXPECT_EQ(DecodeString("01216948C3"
                           "7"
                           "00000000"),
              "Hi");
    EXPECT_EQ(DecodeString("0021694800000000"), "Hi");
    EXPECT_EQ(DecodeString("00216948"
                           "A"
                           "00000000"),
              "Hi");
    // Bad digits in the body count as 0 and decode to the key itself.
    EXPECT_EQ(DecodeString("0041zz6900000000"), "A(");
    // A filler count that covers everything leaves nothing.
    EXPECT_EQ(DecodeString("FF216948C300000000"), "");
    // The filler count is honoured exactly: two filler bytes drop the last two pairs.
    EXPECT_EQ(DecodeString("02216948696900000000"), "Hi");
}

TEST(SupportDecode, TrailerThatIsNotHexRaises) {
    for (const char* text : {"01216948C30000000G", "01216948C3 0000000", "zz", "01216948C3-0000001"})
        EXPECT_THROW(DecodeString(text), EConvertError) << text;
}

TEST(SupportDecode, RotationAtTheLengthBoundary) {
    // "0021694800000008": rest has 8 characters, a rotation of 8 is not less than that, so nothing moves.
    EXPECT_EQ(DecodeString("0021694800000008"), "Hi");
    // Rotation 7 of the same rest, laid out by hand: "00216948" rotated left by 7 is "8" + "0021694".
    EXPECT_EQ(DecodeString("8002169400000007"), "Hi");
    EXPECT_EQ(DecodeString("0216948000000001"), "Hi");
}

// A text and its enciphered constant from the compile-time encoder.
template <TFixedString Text, int... Args> void ExpectRoundTrip() {
    constexpr auto enciphered = EncipherConstant<Text, Args...>();
    EXPECT_EQ(DecodeString(enciphered), std::string(Text.Chars, Text.Length)) << enciphered.c_str();
    EXPECT_EQ(enciphered.View().find_first_not_of("0123456789ABCDEF"), std::string_view::npos);
}

TEST(SupportEncipher, DecodesBack) {
    ExpectRoundTrip<"plain text", 0x5A, 3, 7>();
    ExpectRoundTrip<"plain text">();
    ExpectRoundTrip<"">();
    ExpectRoundTrip<"", 0x10, 0, 0>();
    ExpectRoundTrip<"x", 0xFF, 255, 3>();
    ExpectRoundTrip<"no key", 0, 0, 0>();
    ExpectRoundTrip<"negative rotation", 0x33, 1, -5>();
    ExpectRoundTrip<"rotation beyond", 0x33, 1, 1000>();
    ExpectRoundTrip<"\xe9\xe8\x81\x5c high bytes">();
    ExpectRoundTrip<"MovieFile_">();
}

TEST(SupportEncipher, MatchesTheHandMadeLayout) {
    constexpr auto noborder = EncipherConstant<"noborder", 0xA7, 0, 5>();
    constexpr auto key = EncipherConstant<"Key", 0, 0, 0>();
    EXPECT_EQ(noborder.View(), "9C8C5C8D5C3C2D500A7C00000005");
    EXPECT_EQ(key.View(), "00004B657900000000");
    constexpr auto sized = EncipherConstant<"showall", 0x5A, 3, 7>();
    static_assert(sized.Length == 4 + 2 * 7 + 2 * 3 + 8);
    // The filler digits (the six after the first eleven) are the encoder's own; the rest is fixed by the layout.
    EXPECT_EQ(sized.View().substr(0, 11), "2352D3B3636");
    EXPECT_EQ(sized.View().substr(17), "035A29300000007");
}

// The defaults come from the text's FNV-1a hash: "foobar" hashes to 0xBF9CF968, the algorithm's published test
// vector, which gives key 191, two fillers and a rotation of 7 in its 20-digit body.
TEST(SupportEncipher, DefaultsComeFromTheTextsHash) {
    static_assert(DefaultCipherKey(TFixedString("foobar")) == 1 + 0xBF9CF968u % 255);
    static_assert(DefaultCipherFillers(TFixedString("foobar")) == 1 + (0xBF9CF968u >> 8 & 3));
    constexpr auto constant = EncipherConstant<"foobar">();
    EXPECT_EQ(constant.View(), EncipherString("foobar", 191, 2, 7));
    EXPECT_EQ(constant.View().substr(constant.Length - 8), "00000007");
    EXPECT_EQ(DecodeString(constant), "foobar");
}

TEST(SupportEncipher, RoundTripsArbitraryBytes) {
    std::mt19937 random(12345);
    for (int round = 0; round < 500; ++round) {
        std::string plain(random() % 40, '\0');
        for (char& c : plain)
            c = static_cast<char>(random());
        uint8_t key = static_cast<uint8_t>(random());
        uint8_t fillers = static_cast<uint8_t>(random() % 6);
        int32_t rotation = static_cast<int32_t>(random() % 120) - 10;
        std::string enciphered = EncipherString(plain, key, fillers, rotation);
        ASSERT_EQ(DecodeString(enciphered), plain) << enciphered;
    }
}

// The plain text of this constant must not be found in the test program; a ctest step runs `strings` on it.
// The expected text is kept shifted by one so that the comparison does not bring it in either.
template <size_t N> consteval std::array<char, N> Shifted(const char (&text)[N]) {
    std::array<char, N> out{};
    for (size_t i = 0; i < N; ++i)
        out[i] = static_cast<char>(text[i] + 1);
    return out;
}

TEST(SupportEncipher, PlainTextStaysOutOfTheProgram) {
    static constexpr auto kEnciphered = EncipherConstant<"Zq7-Unseen-Cipher-Plain">();
    static constexpr auto kShifted = Shifted("Zq7-Unseen-Cipher-Plain");
    std::string expected;
    for (size_t i = 0; i + 1 < kShifted.size(); ++i)
        expected += static_cast<char>(kShifted[i] - 1);
    EXPECT_EQ(DecodeString(kEnciphered), expected);
}

} // namespace

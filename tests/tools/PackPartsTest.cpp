// The pieces under mutone-pack: code-page conversion, the content hash, the texts it writes, path texts.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include "uCodePage.h"
#include "uContentId.h"
#include "uManifest.h"
#include "uPackFiles.h"

namespace {

std::string B(std::initializer_list<int> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

// Expected bytes from the code pages' published tables, not from the converter under test.
TEST(CodePage, ConvertsWhatTheCodePageHoldsAndNamesWhatItDoesNot) {
    struct {
        std::string Utf8;
        int CodePage;
        std::optional<std::string> Bytes;
        std::string Problem;
    } rows[] = {
        {"plain ASCII", 932, "plain ASCII", ""},
        {"時計 ｶﾅ", 932, B({0x8E, 0x9E, 0x8C, 0x76, 0x20, 0xB6, 0xC5}), ""},
        {"Café €", 1252, B({'C', 'a', 'f', 0xE9, ' ', 0x80}), ""},
        {"Привет", 1251, B({0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2}), ""},
        {"時計", 65001, "時計", ""},
        {"Café", 932, std::nullopt, "U+00E9 'é' has no code in code page 932"},
        {"ab時", 1252, std::nullopt, "U+6642 '時' has no code in code page 1252"},
        {"a\x01\xE6\x99", 1252, std::nullopt, "the text is not UTF-8"},
        {"a", 437, std::nullopt, "code page 437 is not supported"},
    };
    for (const auto& row : rows) {
        std::string problem;
        EXPECT_EQ(Utf8ToCodePage(row.Utf8, row.CodePage, problem), row.Bytes) << row.Utf8;
        EXPECT_EQ(problem, row.Problem) << row.Utf8;
        if (!row.Bytes) continue;
        EXPECT_EQ(CodePageToUtf8(*row.Bytes, row.CodePage, problem), row.Utf8) << "and back";
    }
    std::string problem;
    EXPECT_FALSE(CodePageToUtf8(B({'a', 0x81}), 932, problem)) << "a lead byte without its trail byte";
    EXPECT_FALSE(CodePageToUtf8(B({0xC0, 0x80}), 65001, problem)) << "an overlong form";
}

TEST(ContentId, Xxh64MatchesThePublishedAlgorithm) {
    const std::pair<std::string, uint64_t> known[] = {
        {"", 0xEF46DB3751D8E999ull},
        {"abc", 0x44BC2CF5AD770999ull},
        {"Nobody inspects the spammish repetition", 0xFBCEA83C8A378BF1ull},
    };
    for (const auto& [text, digest] : known) {
        TXxh64 hash;
        hash.Update(text.data(), text.size());
        EXPECT_EQ(hash.Digest(), digest) << text;
    }
    std::string data(5000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 131 + (i >> 7));
#ifndef _WIN32
    // Debian's own xxHash library, where it is installed (apt needs it), for every length and piece size.
    void* library = dlopen("libxxhash.so.0", RTLD_NOW);
    if (!library) GTEST_SKIP() << "no libxxhash.so.0 to compare with";
    using TXXH64 = unsigned long long (*)(const void*, size_t, unsigned long long);
    const auto reference = reinterpret_cast<TXXH64>(dlsym(library, "XXH64"));
    ASSERT_NE(reference, nullptr);
    for (size_t length : {0u, 1u, 3u, 4u, 7u, 8u, 31u, 32u, 33u, 63u, 64u, 100u, 1000u, 5000u}) {
        for (size_t piece : {1u, 5u, 32u, 4096u}) {
            TXxh64 hash(1);
            for (size_t at = 0; at < length; at += piece)
                hash.Update(data.data() + at, std::min(piece, length - at));
            EXPECT_EQ(hash.Digest(), reference(data.data(), length, 1)) << length << " in pieces of " << piece;
        }
    }
    dlclose(library);
#endif
}

TEST(ContentId, GuidsAreMarkedAsCustomAndFollowTheContent) {
    TContentHasher a, b, c;
    a.UpdateField("ab", 2);
    a.UpdateField("c", 1);
    b.UpdateField("a", 1);
    b.UpdateField("bc", 2);
    c.UpdateField("ab", 2);
    c.UpdateField("c", 1);
    EXPECT_EQ(a.Guid(), c.Guid());
    EXPECT_NE(a.Guid(), b.Guid()) << "fields do not run into each other";
    const std::string guid = a.Guid();
    ASSERT_EQ(guid.size(), 38u);
    EXPECT_EQ(guid[15], '8') << "version 8: " << guid;
    EXPECT_NE(std::string("89AB").find(guid[20]), std::string::npos) << "RFC variant: " << guid;
}

TEST(ManifestTexts, PercentEncodingAndTomlStrings) {
    EXPECT_EQ(PercentEncode("a-b_c.d~e"), "a-b_c.d~e");
    EXPECT_EQ(PercentEncode("a b&c=d/é"), "a%20b%26c%3Dd%2F%C3%A9");
    EXPECT_EQ(TomlString("plain"), "\"plain\"");
    EXPECT_EQ(TomlString("q\"b\\n\nt\t\x01\x7F時"), "\"q\\\"b\\\\n\\nt\\t\\u0001\\u007F時\"");
}

TEST(PackFiles, PathTexts) {
    EXPECT_EQ(JoinPath("", "a.swf"), "a.swf");
    EXPECT_EQ(JoinPath("dir/", "a.swf"), "dir/a.swf");
    EXPECT_EQ(JoinPath("dir/", "/abs/a.swf"), "/abs/a.swf");
    EXPECT_EQ(DirectoryOf("dir/sub/a.swf"), "dir/sub/");
    EXPECT_EQ(DirectoryOf("a.swf"), "");
    EXPECT_EQ(FileNameOf("dir/sub/a.swf"), "a.swf");
#ifdef _WIN32
    EXPECT_EQ(JoinPath("C:\\My Movies", "clip.swf"), "C:\\My Movies\\clip.swf");
    EXPECT_EQ(JoinPath("C:\\My Movies\\", "sub/clip.swf"), "C:\\My Movies\\sub/clip.swf");
    EXPECT_EQ(JoinPath("C:\\dir", "D:\\clip.swf"), "D:\\clip.swf");
    EXPECT_EQ(JoinPath("C:\\dir", "\\clip.swf"), "\\clip.swf");
    EXPECT_EQ(DirectoryOf("C:\\My Movies\\clip.swf"), "C:\\My Movies\\");
    EXPECT_EQ(DirectoryOf("C:clip.swf"), "C:");
    EXPECT_EQ(FileNameOf("C:\\a/b\\clip.swf"), "clip.swf");
    EXPECT_TRUE(IsAbsolutePath("c:/x"));
#else
    EXPECT_EQ(FileNameOf("dir/a\\b.swf"), "a\\b.swf") << "a backslash is a file name's own on POSIX";
    EXPECT_FALSE(IsAbsolutePath("C:\\x"));
#endif
}

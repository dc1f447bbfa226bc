#include <gtest/gtest.h>

#include "support/uSysUtils.h"

namespace {

TEST(SupportText, TrimDropsBlanksAndControlsButNotHighBytes) {
    EXPECT_EQ(Trim(" \t\r\n a b \x01\x1f "), "a b");
    EXPECT_EQ(Trim("\xe9t\xe9"), "\xe9t\xe9");
    EXPECT_EQ(Trim(std::string(3, '\0')), "");
    EXPECT_EQ(Trim(""), "");
}

TEST(SupportText, RemoveTrailingChar) {
    EXPECT_EQ(RemoveTrailingChar("Software\\Clients\\", '\\'), "Software\\Clients");
    EXPECT_EQ(RemoveTrailingChar("a\\\\", '\\'), "a\\");
    EXPECT_EQ(RemoveTrailingChar("abc", '\\'), "abc");
    EXPECT_EQ(RemoveTrailingChar("", '\\'), "");
}

TEST(SupportText, QuoteAndUnquote) {
    struct Row {
        const char* Plain;
        const char* Quoted;
    };
    for (const Row& row : {Row{"abc", "\"abc\""}, Row{"say \"hi\"", "\"say \"\"hi\"\"\""}, Row{"a\"b", "\"a\"\"b\""},
                           Row{"\"", "\"\"\"\""}, Row{"C:\\Program Files\\x.exe", "\"C:\\Program Files\\x.exe\""}}) {
        EXPECT_EQ(QuoteString(row.Plain, '"'), row.Quoted);
        EXPECT_EQ(UnquoteString(row.Quoted, '"'), row.Plain);
    }
    EXPECT_EQ(QuoteString("", '\''), "''");
    EXPECT_EQ(QuoteString("it's", '\''), "'it''s'");
}

TEST(SupportText, UnquoteStringOddCases) {
    EXPECT_EQ(UnquoteString("no quotes", '"'), "no quotes");
    EXPECT_EQ(UnquoteString("mid\"dle\"", '"'), "mid\"dle\"");
    EXPECT_EQ(UnquoteString("\"prog.exe\" -arg \"x\"", '"'), "prog.exe");
    EXPECT_EQ(UnquoteString("\"unterminated", '"'), "unterminated");
    EXPECT_EQ(UnquoteString("\"\"", '"'), "\"\""); // empty quoted text: the text itself
    EXPECT_EQ(UnquoteString("\"\" rest", '"'), "\"\" rest");
    EXPECT_EQ(UnquoteString("", '"'), "");
}

TEST(SupportText, OpenCommandProgram) {
    struct Row {
        const char* Command;
        const char* Program;
    };
    const Row rows[] = {
        {"\"C:\\Program Files\\Browser\\b.exe\" -nohome \"%1\"", "\"C:\\Program Files\\Browser\\b.exe\""},
        {"C:\\Browser\\b.exe %1", "\"C:\\Browser\\b.exe\""},
        {"  C:\\Browser\\b.exe   ", "\"C:\\Browser\\b.exe\""},
        {"\"C:\\b.exe\"", "\"C:\\b.exe\""},
        {"\"C:\\b.exe\" /url %1", "\"C:\\b.exe\""},
        // A single quote character: cut at the first switch, then the quote removed.
        {"\"C:\\Program Files\\b.exe -new /x", "\"C:\\Program Files\\b.exe\""},
        {"C:\\b.exe /dde\"", "\"C:\\b.exe\""},
        // An unquoted program with a quoted argument: the argument is not taken for the program.
        {"C:\\Windows\\b.exe \"%1\"", "\"C:\\Windows\\b.exe\""},
        {"C:\\b.exe -url \"%1\"", "\"C:\\b.exe\""},
        // Single quotes and %1 go wherever they are.
        {"'C:\\b.exe' %1", "\"C:\\b.exe\""},
        // Nothing but placeholders: no program.
        {"\"%1\"", ""},
        {"%1", ""},
        {"", ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ExtractOpenCommandProgram(row.Command), row.Program) << row.Command;
}

TEST(SupportText, SplitToList) {
    using List = std::vector<std::string>;
    struct Row {
        const char* Text;
        List Pieces;
    };
    const Row rows[] = {
        {"", {}},           {"8", {"8"}},      {"9.0.124.0", {"9", "0", "124", "0"}},
        {"8.", {"8"}},      {".8", {"", "8"}}, {"8..0", {"8", "", "0"}},
        {"8..", {"8", ""}}, {".", {""}},       {"a b.c", {"a b", "c"}},
    };
    for (const Row& row : rows) {
        List list{"left over"};
        SplitToList(list, row.Text, '.');
        EXPECT_EQ(list, row.Pieces) << '"' << row.Text << '"';
    }
}

TEST(SupportText, ListItemAsInt) {
    const std::vector<std::string> list{
        "12", "-7", "+3", " 5", "x", "", "1a", "2147483647", "2147483648", "-2147483648", "99999999999999999999", "5 "};
    const int32_t expected[] = {12, -7, 3, 5, 0, 0, 0, INT32_MAX, 0, INT32_MIN, 0, 0};
    for (size_t i = 0; i < list.size(); ++i)
        EXPECT_EQ(ListItemAsInt(list, static_cast<int32_t>(i)), expected[i]) << '"' << list[i] << '"';
    EXPECT_EQ(ListItemAsInt(list, static_cast<int32_t>(list.size())), 0);
    EXPECT_EQ(ListItemAsInt(list, -1), 0);
}

TEST(SupportText, CompareVersions) {
    struct Row {
        const char* A;
        const char* B;
        int32_t Result;
    };
    const Row rows[] = {
        {"8.0", "8", 0},
        {"8", "8.0.0.0", 0},
        {"10.0.12.36", "9.0.124.0", 1},
        {"7.0.19.0", "8.0", -1},
        {"", "0.0.0.0", 0},
        {"10.0", "9.5", 1},
        {"9.0.124.0", "9.0.28.0", 1},
        {"1.x.3", "1.0.3", 0}, // a field that is not a number counts as 0
        {"1.2.3.4.5", "1.2.3.4", 1},
        {"-1", "0", -1},
        {"8.0.22.0", "8.0", 1},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CompareVersions(row.A, row.B), row.Result) << row.A << " vs " << row.B;
        EXPECT_EQ(CompareVersions(row.B, row.A), -row.Result) << row.B << " vs " << row.A;
        EXPECT_EQ(VersionAtLeast(row.A, row.B), row.Result >= 0);
    }
}

TEST(SupportText, TakeHexByte) {
    struct Row {
        const char* Text;
        int32_t Value;
        const char* Rest;
    };
    const Row rows[] = {
        {"7Fab", 0x7F, "ab"}, {"ff", 255, ""}, {"00x", 0, "x"}, {"zz12", 0, "12"},
        {"1z", 0, ""},        {"A", 10, ""},   {"", 0, ""},     {"-1", 0, ""},
    };
    for (const Row& row : rows) {
        std::string text = row.Text;
        EXPECT_EQ(TakeHexByte(text), row.Value) << row.Text;
        EXPECT_EQ(text, row.Rest) << row.Text;
    }
}

TEST(SupportText, UniqueFileNameCandidate) {
    EXPECT_EQ(FormatUniqueFileName("C:\\Temp\\", "swf", "-", 2009, 3, 7, 45296789), "C:\\Temp\\20090307-45296789.swf");
    EXPECT_EQ(FormatUniqueFileName("C:\\Temp\\", ".swf", "-", 2024, 12, 31, 0), "C:\\Temp\\20241231-0.swf");
    EXPECT_EQ(FormatUniqueFileName("D:\\x\\", "", "_sep_", 1999, 1, 1, 86399999), "D:\\x\\19990101_sep_86399999");
}

} // namespace

#include <gtest/gtest.h>

#include "app/uSwitches.h"
#include "forms/CommandLine.h"

TEST(Switches, LetterAndModeOfTheFirstArgument) {
    const struct {
        const char* Argument;
        char Letter;
        TScreenSaverMode Mode;
    } rows[] = {
        {"/s", 'S', ssmNone},
        {"-S", 'S', ssmNone},
        {"s", 'S', ssmNone},
        {"Setup", 'S', ssmNone},
        {"/e", 'E', ssmRun},
        {"e", 'E', ssmRun},
        {"/c", 'C', ssmConfigure},
        {"/c:1234", 'C', ssmConfigure},
        {"-C", 'C', ssmConfigure},
        {"/p", 'P', ssmPreview},
        {"/a", 'A', ssmChangePassword},
        {"/x", 'X', ssmNone},
        {"/", '\0', ssmNone},
        {"-", '\0', ssmNone},
        {"", '\0', ssmNone},
        {"/1", '1', ssmNone},
        {"//c", '/', ssmNone},
        {"\xE9", '\xE9', ssmNone},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(SwitchLetter(row.Argument), row.Letter) << row.Argument;
        EXPECT_EQ(ModeFromLetter(SwitchLetter(row.Argument)), row.Mode) << row.Argument;
    }
}

TEST(Switches, PreviewWindowHandleIsDecimalOrZero) {
    EXPECT_EQ(ParseWindowHandle("1234"), 1234);
    EXPECT_EQ(ParseWindowHandle("0"), 0);
    EXPECT_EQ(ParseWindowHandle("4294967295"), static_cast<intptr_t>(4294967295LL));
    EXPECT_EQ(ParseWindowHandle(""), 0);
    EXPECT_EQ(ParseWindowHandle("12ab"), 0);
    EXPECT_EQ(ParseWindowHandle("0x10"), 0);
    EXPECT_EQ(ParseWindowHandle(" 12"), 0);
    EXPECT_EQ(ParseWindowHandle("99999999999999999999999"), 0);
}

TEST(CommandLine, BlanksSeparateAndQuotesGroup) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitCommandLine(""), V{});
    EXPECT_EQ(SplitCommandLine("  \t "), V{});
    EXPECT_EQ(SplitCommandLine("prog /p 1234"), (V{"prog", "/p", "1234"}));
    EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\x.scr\" /s"), (V{"C:\\Program Files\\x.scr", "/s"}));
    EXPECT_EQ(SplitCommandLine("a\"b c\"d  e"), (V{"ab cd", "e"}));
    EXPECT_EQ(SplitCommandLine("prog \"\" x"), (V{"prog", "", "x"}));
    EXPECT_EQ(SplitCommandLine("prog \"unterminated arg"), (V{"prog", "unterminated arg"}));
}

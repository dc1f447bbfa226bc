// The registry-free parts of opening a link: the executable in a browser command, the scheme test, and the URL as
// one command-line argument.
#include <gtest/gtest.h>

#include "ui/uBrowser.h"

namespace {

TEST(BrowserExecutable, ReducesACommandToItsProgram) {
    const std::pair<const char*, const char*> rows[] = {
        // Quoted program, switches and placeholder behind it.
        {R"("C:\Program Files\Mozilla Firefox\firefox.exe" -osint -url "%1")",
         R"(C:\Program Files\Mozilla Firefox\firefox.exe)"},
        // Unquoted: the blank-free pieces without switches.
        {R"(C:\PROGRA~1\Browser\browser.exe -nohome %1)", R"(C:\PROGRA~1\Browser\browser.exe)"},
        {R"(C:\b.exe "%1")", R"(C:\b.exe)"},
        {R"(C:\b.exe /dde)", R"(C:\b.exe)"},
        // A piece of the path with a "-" is lost (the registry-reading side keeps a quoted path that exists).
        {R"("C:\Program Files\My-Browser\b.exe" %1)", R"(C:\Program)"},
        // Commas separate like blanks; runs of separators leave empty pieces, which count as pieces.
        {R"(C:\a,b\x.exe)", R"(C:\a b\x.exe)"},
        {"a,,b", "a  b"},
        // Doubled quotes inside the quoted program, and a quoted piece inside that.
        {R"("C:\x ""quoted"" y.exe" /s)", R"(C:\x quoted y.exe)"},
        // An unterminated quote runs to the end.
        {R"("C:\Browser\b.exe)", R"(C:\Browser\b.exe)"},
        {R"("")", ""},
        {"  \t ", ""},
        {"", ""},
    };
    for (const auto& [command, program] : rows)
        EXPECT_EQ(BrowserExecutable(command), program) << command;
}

TEST(NormalizeURL, AddsHttpOnlyWhereThereIsNoScheme) {
    const std::pair<const char*, const char*> rows[] = {
        {"", ""},
        {"www.example.com", "http://www.example.com"},
        {"www.example.com/a:b", "http://www.example.com/a:b"},
        {"http://example.com/", "http://example.com/"},
        {"HTTPS://Example.com", "HTTPS://Example.com"},
        {"mailto:someone@example.com", "mailto:someone@example.com"},
        {"my+app.v-1://x", "my+app.v-1://x"},
        // A host with a port is not a scheme.
        {"example.com:8080/path", "http://example.com:8080/path"},
        {"localhost:8080", "http://localhost:8080"},
        {"example.com:80?q", "http://example.com:80?q"},
        // A drive letter is not one either, nor something that starts with a digit.
        {"C:\\page.htm", "http://C:\\page.htm"},
        {"1a:x", "http://1a:x"},
        // Leading line breaks are passed over for the test and kept.
        {"\r\nftp://x", "\r\nftp://x"},
        // A quoted colon separates nothing.
        {"\"a:b\"", "http://\"a:b\""},
    };
    for (const auto& [url, normal] : rows)
        EXPECT_EQ(NormalizeURL(url), normal) << url;
}

TEST(CommandLineURL, EncodesWhatWouldSplitTheArgument) {
    EXPECT_EQ(CommandLineURL("http://a b/\"c\""), "http://a%20b/%22c%22");
    EXPECT_EQ(CommandLineURL("http://x/ --new-window\t\x7F"), "http://x/%20--new-window%09%7F");
    // Percent signs and bytes of the code page's upper half stay as they are.
    EXPECT_EQ(CommandLineURL("http://x/?q=%41&r=\xE9"), "http://x/?q=%41&r=\xE9");
}

} // namespace

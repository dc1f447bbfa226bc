// The movie's file URL: each row's expected URL is what the shell's UrlCreateFromPathW gives for the path; under
// Wine the rows are also checked against the shell itself, so the table cannot drift from it.
#ifdef _WIN32
#include <windows.h>

#include <shlwapi.h>
#endif

#include <gtest/gtest.h>

#include "support/uFileUrl.h"

namespace {

struct TUrlRow {
    const wchar_t* Path;
    const wchar_t* Url;
};

const TUrlRow UrlRows[] = {
    // The run's folders: a content identifier in braces, a user name with a space.
    {L"C:\\users\\a b\\Temp\\{2F5A0C1E-7B3D-4E8A-9C61-0D4B8E2A7F35}\\movie.swf",
     L"file:///C:/users/a%20b/Temp/%7B2F5A0C1E-7B3D-4E8A-9C61-0D4B8E2A7F35%7D/movie.swf"},
    {L"c:\\Temp\\20260101-123\\m.swf", L"file:///c:/Temp/20260101-123/m.swf"},
    // Characters a URL reserves; "?", ";" and "=" are left alone by the shell.
    {L"C:\\x#y%z\\a&b;c=d?e.swf", L"file:///C:/x%23y%25z/a%26b;c=d?e.swf"},
    {L"C:\\a^b`c[d]e|f<g>h\"i'j~k!l$m(n)o+p,q@r.swf",
     L"file:///C:/a%5Eb%60c%5Bd%5De%7Cf%3Cg%3Eh%22i'j~k!l$m(n)o+p,q@r.swf"},
    // Latin-1 letters are escaped by their code unit, Japanese ones and everything above 0xFF stay as they are.
    {L"C:\\Users\\J\u00fcrgen\\\u65e5\u672c \u592a\u90ce\\m.swf",
     L"file:///C:/Users/J%FCrgen/\u65e5\u672c%20\u592a\u90ce/m.swf"},
    {L"C:\\tab\tx\x7f\x80\xff\u0100\u0152\u20ac.swf", L"file:///C:/tab%09x%7F%80%FF\u0100\u0152\u20ac.swf"},
    // A temporary directory on a share.
    {L"\\\\server\\share\\Temp\\m.swf", L"file://server/share/Temp/m.swf"},
    {L"\\\\srv x\\sh#are\\{id}\\m y.swf", L"file://srv%20x/sh%23are/%7Bid%7D/m%20y.swf"},
    // A folder keeps its trailing slash; dots are not resolved.
    {L"C:\\dir\\", L"file:///C:/dir/"},
    {L"C:\\a\\..\\b\\.\\c.swf", L"file:///C:/a/../b/./c.swf"},
};

TEST(FileUrl, MatchesTheShellsUrlForTheRunsPaths) {
    for (const TUrlRow& row : UrlRows) {
        EXPECT_EQ(FileUrlFromPath(row.Path), row.Url);
#ifdef _WIN32
        wchar_t shell[2048] = {};
        DWORD size = 2048;
        ASSERT_EQ(UrlCreateFromPathW(row.Path, shell, &size, 0), S_OK);
        EXPECT_EQ(FileUrlFromPath(row.Path), shell) << "the shell disagrees";
#endif
    }
}

TEST(FileUrl, NoPathGivesNoUrl) {
    // The movie of a run that has none stays empty, as the player has always been handed it.
    EXPECT_EQ(FileUrlFromPath(L""), L"");
}

} // namespace

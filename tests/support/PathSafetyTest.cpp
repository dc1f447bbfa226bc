#include <gtest/gtest.h>

#include "support/uPathSafety.h"

namespace {

TEST(SupportPathSafety, FileNames) {
    for (const char* name : {"movie.swf", "a", "{9EA00A9F-18F3-4842-82F5-6677E57A79FA}", ".hidden", "a.b.c",
                             "name with spaces.txt", " leading", "CONSOLE.txt", "COM10", "LPT", "nul_x", "\xe9t\xe9"})
        EXPECT_TRUE(IsSafeFileName(name)) << name;
    for (const char* name :
         {"",      ".",        "..",          "...",         "a.",     "a ",        "a. .",     "sub\\x",
          "sub/x", "C:x",      "file:stream", "file::$DATA", "a*b",    "a?b",       "a<b",      "a>b",
          "a|b",   "a\"b",     "tab\there",   "CON",         "con",    "NUL.txt",   "nul .txt", "Aux.tar.gz",
          "COM1",  "com9.log", "LPT3",        "COM\xb9",     "CONIN$", "conout$.x", "CLOCK$"})
        EXPECT_FALSE(IsSafeFileName(name)) << name;
    EXPECT_TRUE(IsSafeFileName(std::string(255, 'a')));
    EXPECT_FALSE(IsSafeFileName(std::string(256, 'a')));
}

TEST(SupportPathSafety, RelativeNames) {
    for (const char* name : {"movie.swf", "sub\\movie.swf", "sub/deeper/x.bin", "a.b\\c"})
        EXPECT_TRUE(IsSafeRelativeName(name)) << name;
    for (const char* name :
         {"", "..\\x", "sub\\..\\..\\x", "sub/../x", "\\x", "/x", "\\\\server\\share\\x", "C:\\x", "C:x", "c:", "sub\\",
          "sub\\\\x", "sub\\.\\x", "sub\\x.", "sub\\NUL", "sub\\x:y", "..", "x\\.. "})
        EXPECT_FALSE(IsSafeRelativeName(name)) << name;
}

TEST(SupportPathSafety, PathIsInside) {
    struct Row {
        const char* Folder;
        const char* Path;
        bool Inside;
    };
    const Row rows[] = {
        {"C:\\Temp\\guid", "C:\\Temp\\guid\\movie.swf", true},
        {"C:\\Temp\\guid\\", "C:\\Temp\\guid\\movie.swf", true},
        {"c:\\temp\\GUID", "C:\\Temp\\guid\\sub\\movie.swf", true},
        {"\\\\server\\share\\dir", "\\\\server\\share\\dir\\f", true},
        {"C:\\", "C:\\f", true},
        {"C:\\Temp\\guid", "C:\\Temp\\guid", false},
        {"C:\\Temp\\guid", "C:\\Temp\\guid\\", false},
        {"C:\\Temp\\guid", "C:\\Temp\\guidance\\x", false},
        {"C:\\Temp\\guid", "C:\\Temp\\guid\\..\\x", false},
        {"C:\\Temp\\guid", "C:\\Temp\\guid\\sub\\..\\..\\x", false},
        {"C:\\Temp\\guid", "C:\\Temp\\guid\\x:stream", false},
        {"C:\\Temp\\guid", "C:\\Temp\\guid\\CON", false},
        {"C:\\Temp\\guid", "C:\\Temp\\guid\\x.", false},
        {"C:\\Temp\\guid", "D:\\Temp\\guid\\x", false},
        {"C:\\Temp\\guid", "C:\\Temp\\guid\\\\x", false},
        {"C:\\Temp\\guid", "C:\\Temp\\guid\\C:\\x", false},
        {"Temp\\guid", "Temp\\guid\\x", false}, // a relative folder could be anywhere
        {"\\Temp", "\\Temp\\x", false},
        {"", "x", false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(PathIsInside(row.Folder, row.Path), row.Inside) << row.Folder << " | " << row.Path;
}

TEST(SupportPathSafety, RootPaths) {
    for (const char* path : {"", "\\", "/", "C:", "C:\\", "c:/", "\\\\server", "\\\\server\\share",
                             "\\\\server\\share\\", "\\\\?\\C:\\", "\\\\.\\D:", "\\\\?\\UNC\\server\\share\\"})
        EXPECT_TRUE(IsRootPath(path)) << path;
    for (const char* path : {"C:\\Temp", "C:\\Temp\\", "\\\\server\\share\\dir", "\\\\?\\C:\\x", "x"})
        EXPECT_FALSE(IsRootPath(path)) << path;
}

} // namespace

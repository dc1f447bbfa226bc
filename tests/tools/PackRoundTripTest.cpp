// Build, extract the manifest, build again: the same bytes.
#include <gtest/gtest.h>

#include "BMPBuilder.h"
#include "PackTestSupport.h"
#include "SWFBuilder.h"
#include "store/uExeAdder.h"

namespace {

class PackRoundTrip : public TPackTest {
protected:
    // build → extract --manifest → build; the first screensaver's path, and the extract's report.
    std::string RoundTrip(const std::vector<std::string>& buildArgs, const std::string& codePage = "932") {
        std::vector<std::string> first = buildArgs;
        first.insert(first.end(), {"-o", File("first.scr")});
        const TRun built = Build(first);
        EXPECT_EQ(built.Code, 0) << built.Err << built.Out;
        const TRun extracted =
            Run({"extract", "--manifest", File("extracted"), "--code-page", codePage, File("first.scr")});
        EXPECT_EQ(extracted.Code, 0) << extracted.Err;
        const TRun rebuilt = Build({File("extracted/screensaver.toml"), "-o", File("second.scr")});
        EXPECT_EQ(rebuilt.Code, 0) << rebuilt.Err;
        EXPECT_EQ(rebuilt.Err, "");
        EXPECT_EQ(ReadFileBytes(File("first.scr")), ReadFileBytes(File("second.scr")));
        return extracted.Out;
    }
};

TEST_F(PackRoundTrip, EverySettingComesBackAsItWasBuilt) {
    std::filesystem::create_directories(File("in"));
    WriteFileBytes(File("in/clock.swf"), BuildSWF(SimpleMovie(320, 240, 0x00FF00, false)));
    WriteText("in/data/Läuse.txt", "eins zwei");
    WriteText("in/data/b.bin", std::string("\0\xFF", 2));
    WriteFileBytes(File("in/about.bmp"), BuildBMP(MakeBitmap(std::vector<uint32_t>(6, 0x123456), 3, 2, 24, false)));
    WriteText("in/m.toml", R"(
id = "{6F1C2A0E-3B7D-4C55-9A1E-2D4F6B8C0A13}"
code_page = 1252
[movie]
file = "clock.swf"
name = "Uhr.swf"
loop = false
scale = "exactfit"
quality = 7
menu = false
right_click = true
background = -1
flashvars = { ville = "Zürich", n = 1 }
required_flash_version = "9.0.115"
[screen]
monitors = "first"
end_on_mouse = true
end_on_key = false
show_cursor = true
throttle_preview = false
[[files]]
path = "data/Läuse.txt"
[[files]]
path = "data/b.bin"
name = "Bäume.bin"
[dialog]
caption = "Café"
copyright = "© 2024"
link = "https://example.com/"
close_button = true
picture = "about.bmp"
[no_player]
text = "Flash Player fehlt – bitte „installieren“"
link = "https://example.com/hilfe"
)");
    const std::string report = RoundTrip({File("in/m.toml")}, "1252");
    EXPECT_EQ(report, "wrote " + NativeFile("extracted/screensaver.toml") + " and 4 files\n");
    EXPECT_EQ(FilesIn("extracted"), (std::vector<std::string>{"Uhr.swf", "screensaver.toml"}));
    EXPECT_EQ(FilesIn("extracted/files"), (std::vector<std::string>{"Bäume.bin", "Läuse.txt"}));
    EXPECT_EQ(ReadFileBytes(File("extracted/dialog/about.bmp")), ReadFileBytes(File("in/about.bmp")));
}

TEST_F(PackRoundTrip, ADerivedIdentifierIsKept) {
    WriteFileBytes(File("clip.swf"), BuildSWF(SimpleMovie(550, 400, 0, false)));
    RoundTrip({File("clip.swf")});
    EXPECT_EQ(FilesIn("extracted"), (std::vector<std::string>{"movie.swf", "screensaver.toml"}));
}

// Without its arch, the extracted manifest of a 64-bit screensaver would ask for the 32-bit runtime.
TEST_F(PackRoundTrip, A64BitScreensaverComesBackAsOne) {
    TTestImage x64;
    x64.Is64 = true;
    x64.Sections = {{0x400, 0x200, 0x64}};
    WriteFileBytes(File("runtime.exe"), BuildPEImage(x64));
    WriteFileBytes(File("clip.swf"), BuildSWF(SimpleMovie(550, 400, 0, false)));
    RoundTrip({File("clip.swf"), "--arch", "x64"});
    const std::vector<uint8_t> manifest = ReadFileBytes(File("extracted/screensaver.toml"));
    EXPECT_NE(std::string(manifest.begin(), manifest.end()).find("\narch = \"x64\"\n"), std::string::npos);
}

// A store another tool made may hold what the runtime never reads: it is left out, and said so.
TEST_F(PackRoundTrip, ItemsTheRuntimeDoesNotReadAreLeftOut) {
    std::vector<uint8_t> file = BuildSimplePEImage();
    const std::vector<uint8_t> movie = BuildSWF(SimpleMovie(550, 400, 0, false));
    const std::vector<uint8_t> store =
        BuildStore({{"GUID", {'x'}, true}, {"Comment", {'h', 'i'}, true}, {"Movie", movie, true}}, 7,
                   static_cast<int64_t>(file.size()));
    file.insert(file.end(), store.begin(), store.end());
    WriteFileBytes(File("other.scr"), file);
    const TRun run = Run({"extract", "--manifest", File("x"), File("other.scr")});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(run.Out, "wrote " + NativeFile("x/screensaver.toml") + " and 1 files\n" +
                           "left out the item \"Comment\", which the screensaver does not read\n");
    EXPECT_EQ(ReadFileBytes(File("x/movie.swf")), movie);

    const TRun both = Run({"extract", "--manifest", File("y"), File("other.scr"), File("z")});
    EXPECT_EQ(both.Code, 2);
    EXPECT_EQ(both.Err.substr(0, 56), "mutone-pack: extract: DIR and --manifest DIR both given\n");
}

} // namespace

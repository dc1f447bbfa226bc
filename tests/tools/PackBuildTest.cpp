// mutone-pack build: manifests and movies in, screensavers out, read back with the store reader and the
// runtime's own item matching; every refusal with its message, its exit code and no file left behind.
#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "PEBuilder.h"
#include "PackTestSupport.h"
#include "SWFBuilder.h"
#include "app/uContentLoader.h"
#include "forms/BitmapReader.h"
#include "store/ZLibEx.h"
#include "store/uPEUtils.h"
#include "uPackBuild.h"

namespace {

// What the runtime's loader makes of a store: every effect by name, the dialog's items among them.
class TLoadedContent : public TContentTarget {
public:
    std::map<std::string, std::string> Values;
    std::map<std::string, std::string> Files; // additional files by bare name

    explicit TLoadedContent(const std::string& screensaver) {
        TFileReadStream file(screensaver);
        TStoreReader store(file);
        TContentReader reader(*this);
        for (const TDialogKeyInfo& key : DialogKeyTable())
            reader.AddKey(key.Enciphered, [this, role = key.Role](TContentItem& item) {
                Values["Dialog" + std::to_string(int(role))] = ItemText(item.Whole());
            });
        reader.ApplyItems(store);
        reader.WriteExtraFiles();
        reader.Finish();
        TItemTypes items;
        ReadExeItems(screensaver, items);
        for (const TItemType& item : items)
            Names.push_back(item.Name);
    }
    std::vector<std::string> Names; // in store order

    void SetContentGuid(const std::string& v) override { Values["Guid"] = v; }
    void SetLoopMovie(bool v) override { Values["Loop"] = v ? "1" : "0"; }
    void SetAllowRightClick(bool v) override { Values["RightClick"] = v ? "1" : "0"; }
    void SetMovieMenu(bool v) override { Values["Menu"] = v ? "1" : "0"; }
    void SetMovieQuality(int32_t v) override { Values["Quality"] = std::to_string(v); }
    void SetExtraFlashVars(const std::string& v) override { Values["FlashVars"] = v; }
    void SetMovieBackgroundColor(int32_t v) override { Values["Background"] = std::to_string(v); }
    void SetMovieFileName(const std::string& v) override { Values["MovieName"] = v; }
    void WriteMovie(const TContentItem& item) override { Values["Movie"] = Streamed(item); }
    void SetThrottlePreview(bool v) override { Values["Throttle"] = v ? "1" : "0"; }
    void SetRequiredFlashVersion(const std::string& v) override { Values["Required"] = v; }
    void SetTerminateOnMouseMove(bool v) override { Values["EndOnMouse"] = v ? "1" : "0"; }
    void SetTerminateOnKeyDown(bool v) override { Values["EndOnKey"] = v ? "1" : "0"; }
    void SetShowMouseCursor(bool v) override { Values["Cursor"] = v ? "1" : "0"; }
    void SetMonitorLayout(uint8_t v) override { Values["Monitors"] = std::to_string(v); }
    void SetNoPlayerText(const std::string& v) override { Values["NoPlayerText"] = v; }
    void SetNoPlayerLink(const std::string& v) override { Values["NoPlayerLink"] = v; }
    void WriteExtraFile(const std::string& name, const TContentItem& item) override { Files[name] = Streamed(item); }
    void SetMovieScale(const std::string& v) override { Values["Scale"] = v; }

private:
    static std::string Streamed(const TContentItem& item) {
        TMemoryStream out;
        item.WriteTo(out);
        return std::string(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Length()));
    }
};

std::string Dialog(TDialogKey key) {
    return "Dialog" + std::to_string(int(key));
}

class PackBuild : public TPackTest {};

TEST_F(PackBuild, EveryManifestFieldReachesTheRuntimeAsItReadsIt) {
    const std::vector<uint8_t> movie = BuildSWF(SimpleMovie(320, 240, 0x00FF00, false));
    WriteFileBytes(File("clock.swf"), movie);
    WriteText("data/words.txt", "one two");
    WriteText("data/sounds.bin", std::string("\0\x01\x02", 3));
    const std::vector<uint8_t> dialogMovie = BuildSWF(SimpleMovie(100, 50, 0, false));
    WriteFileBytes(File("about.swf"), dialogMovie);
    WriteText("screensaver.toml", R"(
id = "{6F1C2A0E-3B7D-4C55-9A1E-2D4F6B8C0A13}"
code_page = 932
[movie]
file = "clock.swf"
name = "時計.swf"
loop = false
scale = "exactfit"
quality = "autohigh"
menu = true
right_click = true
background = "#112233"
flashvars = { zeta = "京都 1", alpha = 2, on = true }
required_flash_version = "auto"
[screen]
monitors = "each"
end_on_mouse = false
end_on_key = false
show_cursor = true
throttle_preview = true
[[files]]
path = "data/words.txt"
[[files]]
path = "data/sounds.bin"
name = "音.bin"
[dialog]
caption = "時計の設定"
copyright = "(c) 2024 Ann & Bob"
link = "https://example.com/?a=1&b=2"
close_button = false
picture = "about.swf"
[no_player]
text = "再生には Flash Player が必要です & more"
link = "https://example.com/help?a=1&b=2"
)");
    const TRun run = Build({File("screensaver.toml"), "-o", File("out.scr")});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(run.Err, "");

    const TLoadedContent content(File("out.scr"));
    const auto sjis = [](std::initializer_list<int> bytes) { return std::string(bytes.begin(), bytes.end()); };
    const std::map<std::string, std::string> expected = {
        {"Guid", "{6F1C2A0E-3B7D-4C55-9A1E-2D4F6B8C0A13}"},
        {"MovieName", sjis({0x8E, 0x9E, 0x8C, 0x76}) + ".swf"},
        {"Loop", "0"},
        {"Scale", "exactfit"},
        {"Quality", "3"},
        {"Menu", "1"},
        {"RightClick", "1"},
        {"Background", std::to_string(0x332211)},
        // Declaration order, percent-encoded as UTF-8, as Flash Player 6 and later decode variables.
        {"FlashVars", "zeta=%E4%BA%AC%E9%83%BD%201&alpha=2&on=true"},
        {"Required", "8.0.0.0"},
        {"Monitors", "2"},
        {"EndOnMouse", "0"},
        {"EndOnKey", "0"},
        {"Cursor", "1"},
        {"Throttle", "1"},
        {"Movie", std::string(movie.begin(), movie.end())},
        {Dialog(TDialogKey::Caption), sjis({0x8E, 0x9E, 0x8C, 0x76, 0x82, 0xCC, 0x90, 0xDD, 0x92, 0xE8})},
        {Dialog(TDialogKey::CopyrightText), "(c) 2024 Ann & Bob"},
        {Dialog(TDialogKey::CopyrightLink), "https://example.com/?a=1&b=2"},
        {Dialog(TDialogKey::CloseButton), std::string(1, '\0')},
        {Dialog(TDialogKey::PictureName), "about.swf"},
        {Dialog(TDialogKey::Picture), std::string(dialogMovie.begin(), dialogMovie.end())},
        {"NoPlayerText", sjis({0x8D, 0xC4, 0x90, 0xB6, 0x82, 0xC9, 0x82, 0xCD}) + " Flash Player " +
                             sjis({0x82, 0xAA, 0x95, 0x4B, 0x97, 0x76, 0x82, 0xC5, 0x82, 0xB7}) + " & more"},
        {"NoPlayerLink", "https://example.com/help?a=1&b=2"},
    };
    EXPECT_EQ(content.Values, expected);
    const std::map<std::string, std::string> files = {{"words.txt", "one two"},
                                                      {sjis({0x89, 0xB9}) + ".bin", std::string("\0\x01\x02", 3)}};
    EXPECT_EQ(content.Files, files);
    // The runtime needs the identifier and the movie's name before the movie, the count before the files.
    const auto at = [&](const std::string& name) {
        return std::find(content.Names.begin(), content.Names.end(), name) - content.Names.begin();
    };
    EXPECT_EQ(at("GUID"), 0);
    EXPECT_LT(at(ContentItemName(TContentKey::MovieFileName)), at(ContentItemName(TContentKey::Movie)));
    EXPECT_LT(at(ContentItemName(TContentKey::ExtraFileCount)), at(ContentItemName(TContentKey::ExtraFileName, 0)));

    // The image in front is the runtime's, untouched.
    const std::vector<uint8_t> out = ReadFileBytes(File("out.scr"));
    const std::vector<uint8_t> runtime = ReadFileBytes(Runtime());
    EXPECT_TRUE(std::equal(runtime.begin(), runtime.end(), out.begin()));
    EXPECT_EQ(TPEImage(File("out.scr")).GetImageEnd(), runtime.size());
}

TEST_F(PackBuild, AMovieAloneGetsTheDefaultsAndAStableIdentifier) {
    WriteFileBytes(File("clip.swf"), BuildSWF(SimpleMovie(550, 400, 0x3366CC, false)));
    const TRun run = Build({File("clip.swf"), "-o", File("a.scr")});
    ASSERT_EQ(run.Code, 0) << run.Err;
    const TLoadedContent content(File("a.scr"));
    EXPECT_EQ(content.Names,
              (std::vector<std::string>{"GUID", ContentItemName(TContentKey::Loop),
                                        ContentItemName(TContentKey::Quality), ContentItemName(TContentKey::Movie)}));
    EXPECT_EQ(content.Values.at("Loop"), "1") << "a screensaver loops";
    EXPECT_EQ(content.Values.at("Quality"), "1") << "high, not the control's low";
    EXPECT_EQ(content.Values.at("Required"), "0.0.0.0") << "the runtime's default";
    const std::string id = content.Values.at("Guid");
    EXPECT_TRUE(LooksLikeGuid(id)) << id;
    EXPECT_NE(run.Out.find("id " + id + " (derived"), std::string::npos) << run.Out;

    // The same inputs give the same bytes; other content another identifier.
    ASSERT_EQ(Build({File("clip.swf"), "-o", File("b.scr")}).Code, 0);
    EXPECT_EQ(ReadFileBytes(File("a.scr")), ReadFileBytes(File("b.scr")));
    ASSERT_EQ(Build({File("clip.swf"), "-o", File("c.scr"), "--set", "movie.loop=false"}).Code, 0);
    EXPECT_NE(TLoadedContent(File("c.scr")).Values.at("Guid"), id);
    WriteFileBytes(File("clip.swf"), BuildSWF(SimpleMovie(550, 400, 0x3366CD, false)));
    ASSERT_EQ(Build({File("clip.swf"), "-o", File("d.scr")}).Code, 0);
    EXPECT_NE(TLoadedContent(File("d.scr")).Values.at("Guid"), id);
}

TEST_F(PackBuild, SetOverridesTheManifest) {
    WriteFileBytes(File("clip.swf"), BuildSWF(SimpleMovie(550, 400, 0, false)));
    WriteFileBytes(File("other.swf"), BuildSWF(SimpleMovie(20, 20, 0, false)));
    WriteText("m.toml", "[movie]\nfile = \"clip.swf\"\nloop = true\n[dialog]\ncaption = \"old\"\n");
    const TRun run = Build({File("m.toml"), "-o", File("out.scr"), "--set", "movie.loop=false", "--set",
                            "movie.required_flash_version=9.0", "--set", "dialog.caption=New caption",
                            "--set=screen.monitors=first", "--set", "movie.file=" + File("other.swf"), "--set",
                            "movie.flashvars={b = \"x y\", a = 1}", "--set", "id=plain-name"});
    ASSERT_EQ(run.Code, 0) << run.Err;
    const TLoadedContent content(File("out.scr"));
    EXPECT_EQ(content.Values.at("Loop"), "0");
    EXPECT_EQ(content.Values.at("Required"), "9.0") << "a text key keeps the text as written";
    EXPECT_EQ(content.Values.at(Dialog(TDialogKey::Caption)), "New caption");
    EXPECT_EQ(content.Values.at("Monitors"), "1");
    EXPECT_EQ(content.Values.at("FlashVars"), "b=x%20y&a=1");
    const std::vector<uint8_t> other = ReadFileBytes(File("other.swf"));
    EXPECT_EQ(content.Values.at("Movie"), std::string(other.begin(), other.end()));
    EXPECT_EQ(content.Values.at("Guid"), "plain-name");
    EXPECT_EQ(run.Err, "") << "any safe name serves as identifier";
}

// Each row: the manifest (movie.swf, a valid movie, and notes.txt lie beside it), the expected error lines after
// "mutone-pack: ", with M standing for the manifest's path and D for its folder.
TEST_F(PackBuild, RefusalsNameTheFileAndFieldAndWriteNothing) {
    WriteFileBytes(File("movie.swf"), BuildSWF(SimpleMovie(550, 400, 0, false)));
    WriteText("notes.txt", "notes");
    WriteText("bad.swf", "GIF89a, not a movie");
    WriteText("short.swf", "FWS");
    WriteText("picture.swf", "not a movie either");
    WriteText("picture.bmp", "BM, then nothing a bitmap needs");
    WriteText("huge.bmp", "BM");
    ResizeFile(File("huge.bmp"), 512ll * 1024 * 1024); // sparse: refused from its size before a byte is read
    WriteText("huge.dat", "");
    ResizeFile(File("huge.dat"), 2048ll * 1024 * 1024 + 1);
    WriteText("big.dat", "");
    ResizeFile(File("big.dat"), 1536ll * 1024 * 1024);
    std::string why;
    TBitmapPixels pixels;
    ASSERT_FALSE(ReadBitmapFile(reinterpret_cast<const uint8_t*>("BM, then nothing a bitmap needs"), 31, pixels, &why));
    const std::string movie = "[movie]\nfile = \"movie.swf\"\n";
    struct {
        std::string Manifest;
        std::vector<std::string> Errors;
    } rows[] = {
        {"[movie\nfile = 1", {"M:1:7: Error while parsing table header: expected ']', saw '\\n'"}},
        {movie + "lop = true\n", {"M:3:1: movie.lop: unknown key; did you mean \"loop\"?"}},
        {movie + "loop = \"yes\"\n", {"M:3:8: movie.loop: expected true or false, not the string \"yes\""}},
        {movie + "scale = \"stretch\"\n",
         {"M:3:9: movie.scale: expected \"showall\" or \"exactfit\", not the string \"stretch\""}},
        {movie + "quality = \"best\"\n",
         {"M:3:11: movie.quality: expected \"low\", \"high\", \"autolow\" or \"autohigh\" or a 32-bit integer, not "
          "the string \"best\""}},
        {movie + "background = \"red\"\n",
         {"M:3:14: movie.background: expected a colour \"#RRGGBB\" or an integer, not the string \"red\""}},
        {movie + "required_flash_version = \"nine\"\n",
         {"M:3:26: movie.required_flash_version: expected \"auto\" or a dotted version such as \"9.0.115\", not the "
          "string \"nine\""}},
        {"code_page = 437\n" + movie,
         {"M:1:13: code_page: expected a Windows ANSI code page (874, 932, 936, 949, 950, 1250 to 1258) or 65001, "
          "not the integer 437"}},
        {"movie = \"movie.swf\"\n", {"M:1:9: movie: expected a table ([movie]), not the string \"movie.swf\""}},
        {"[screen]\nmonitors = \"all\"\n",
         {"M:2:12: screen.monitors: expected \"span\", \"first\" or \"each\" or a 32-bit integer, not the string "
          "\"all\"",
          "M: movie.file: missing: a screensaver needs a movie ([movie] file = \"...\")"}},
        {"[movie]\nfile = \"none.swf\"\n", {"M:2:8: movie.file: D/none.swf: no such file"}},
        {"[movie]\nfile = \"bad.swf\"\n",
         {"M:2:8: movie.file: D/bad.swf is not a movie the screensaver can play: Invalid format"}},
        {"[movie]\nfile = \"short.swf\"\n",
         {"M:2:8: movie.file: D/short.swf is not a movie the screensaver can play: Invalid format"}},
        {"id = \"a/b\"\n" + movie,
         {"M:1:6: id: \"a/b\" would be ignored by the screensaver: it names a folder, so it must be a plain file "
          "name (no \\ / : * ? \" < > |, no device name)"}},
        {movie + "name = \"sub/clip.swf\"\n",
         {"M:3:8: movie.name: \"sub/clip.swf\" is not a plain file name: the screensaver keeps no folders, so give "
          "the file's name alone"}},
        {movie + "name = \"CON.swf\"\n",
         {"M:3:8: movie.name: \"CON.swf\" is a name the screensaver would not write (reserved characters, a "
          "trailing dot or space, a device name such as CON, or longer than 255 bytes)"}},
        {movie + "name = \"Notes.TXT\"\n[[files]]\npath = \"notes.txt\"\n",
         {"M:5:8: files[0].path: \"notes.txt\" is also the name of movie.name (Windows does not tell letter case "
          "apart), and both are written into one folder"}},
        {movie + "[[files]]\npath = \"notes.txt\"\n[[files]]\npath = \"movie.swf\"\nname = \"NOTES.txt\"\n",
         {"M:7:8: files[1].name: \"NOTES.txt\" is also the name of files[0].path (Windows does not tell letter case "
          "apart), and both are written into one folder"}},
        {movie + "[[files]]\nname = \"x.txt\"\n",
         {"M:3:1: files[0].path: missing: every additional file needs a path"}},
        {movie + "[dialog]\ncaption = \"Café\"\n",
         {"M:4:11: dialog.caption: \"Café\" cannot be stored for the screensaver: U+00E9 'é' has no code in code "
          "page 932 (code_page chooses another)"}},
        {movie + "[dialog]\npicture = \"picture.swf\"\n",
         {"M:4:11: dialog.picture: D/picture.swf is not a movie the settings dialog can show: Invalid format"}},
        {movie + "[dialog]\npicture = \"picture.bmp\"\n",
         {"M:4:11: dialog.picture: D/picture.bmp is not a picture the settings dialog can show (a BMP file): " + why}},
        {movie + "[dialog]\npicture = \"huge.bmp\"\n",
         {"M:4:11: dialog.picture: D/huge.bmp is 512 MiB; the screensaver cannot unpack a file larger than 256 MiB"}},
        {movie + "[[files]]\npath = \"huge.dat\"\n",
         {"M:4:8: files[0].path: D/huge.dat is 2048 MiB; a screensaver holds no file larger than 2 GiB"}},
        {movie + "[dialog]\ncolor = 1\n", {"M:4:1: dialog.color: unknown key"}},
        {movie + "[[files]]\npath = \"big.dat\"\n[[files]]\npath = \"big.dat\"\nname = \"b\"\n[[files]]\npath = "
                 "\"big.dat\"\nname = \"c\"\n",
         {"M:9:8: files[2].path: D/big.dat takes the files the screensaver writes to 4608 MiB; a run writes no "
          "more than 4096 MiB in all"}},
        {movie + "[product]\nversion = \"1.2.3.4.5\"\n",
         {"M:4:11: product.version: expected 1 to 4 numbers from 0 to 65535 separated by dots, such as \"1.2.0\", "
          "not the string \"1.2.3.4.5\""}},
        {movie + "[product]\nversion = \"1.65536\"\nnam = \"x\"\n",
         {"M:5:1: product.nam: unknown key; did you mean \"name\"?",
          "M:4:11: product.version: expected 1 to 4 numbers from 0 to 65535 separated by dots, such as \"1.2.0\", "
          "not the string \"1.65536\""}},
        {"arch = \"arm64\"\n" + movie, {"M:1:8: arch: expected \"x86\" or \"x64\", not the string \"arm64\""}},
        {movie + "[no_player]\ntext = 1\n", {"M:4:8: no_player.text: expected a string, not the integer 1"}},
        {movie + "[no_player]\ntext = \"" + std::string(MaxNoPlayerTextSize + 1, 'x') + "\"\n",
         {"M:4:8: no_player.text: the text is 513 bytes in code page 932; the screensaver shows no more than 512"}},
        {movie + "[[files]]\npath = \"notes.txt\"\nname = \"~MUTONE-run.lock\"\n",
         {"M:5:8: files[0].name: \"~MUTONE-run.lock\" is the name of the file that marks the screensaver's own "
          "folder"}},
    };
    for (const auto& row : rows) {
        WriteText("m.toml", row.Manifest);
        const TRun run = Build({File("m.toml"), "-o", File("out.scr")});
        std::string expected;
        for (std::string line : row.Errors) {
            line = Replace(File("m.toml") + line.substr(1), "D/", JoinDir());
            expected += "mutone-pack: " + line + "\n";
        }
        EXPECT_EQ(run.Code, 1) << row.Manifest;
        EXPECT_EQ(run.Err, expected) << row.Manifest;
        EXPECT_EQ(run.Out, "");
        EXPECT_EQ(FilesIn(""),
                  (std::vector<std::string>{"bad.swf", "big.dat", "huge.bmp", "huge.dat", "m.toml", "movie.swf", "notes.txt",
                                            "picture.bmp", "picture.swf", "runtime.exe", "short.swf"}))
            << "nothing written: " << row.Manifest;
    }
}

TEST_F(PackBuild, RefusesBadRuntimesAndNeverWritesOverAnInput) {
    WriteFileBytes(File("movie.swf"), BuildSWF(SimpleMovie(550, 400, 0, false)));
    WriteText("not-a-program.exe", "MZ? no");
    const std::string runtime = Runtime();
    const std::vector<uint8_t> runtimeBytes = ReadFileBytes(runtime);
    struct {
        std::vector<std::string> Args;
        std::string Error;
    } rows[] = {
        {{File("movie.swf"), "-o", File("out.scr"), "--runtime", File("none.scr")},
         File("none.scr") + ": runtime: no such file"},
        {{File("movie.swf"), "-o", File("out.scr"), "--runtime", File("not-a-program.exe")},
         File("not-a-program.exe") + ": runtime: not a Windows program: Bad Signature"},
        {{File("movie.swf"), "-o", runtime, "--runtime", runtime},
         runtime + ": output: is the runtime; choose another output file"},
        {{File("movie.swf"), "-o", File("movie.swf"), "--runtime", runtime},
         File("movie.swf") + ": output: is the input; choose another output file"},
    };
    for (const auto& row : rows) {
        const TRun run = Run([&] {
            std::vector<std::string> args = {"build"};
            args.insert(args.end(), row.Args.begin(), row.Args.end());
            return args;
        }());
        EXPECT_EQ(run.Code, 1);
        EXPECT_EQ(run.Err, "mutone-pack: " + row.Error + "\n");
    }
    EXPECT_EQ(ReadFileBytes(runtime), runtimeBytes);
    EXPECT_FALSE(FileExistsHere("out.scr"));
}

TEST_F(PackBuild, WarnsWhenTheRequiredVersionIsBelowTheMovies) {
    TSWFMovie movie = SimpleMovie(550, 400, 0, false);
    movie.Version = 10;
    WriteFileBytes(File("movie.swf"), BuildSWF(movie));
    WriteText("m.toml", "[movie]\nfile = \"movie.swf\"\nrequired_flash_version = \"9.0.115\"\n");
    const TRun run = Build({File("m.toml"), "-o", File("out.scr")});
    EXPECT_EQ(run.Code, 0);
    EXPECT_EQ(run.Err, "mutone-pack: " + File("m.toml") +
                           ":3:26: movie.required_flash_version: warning: the movie is SWF version 10, made for "
                           "Flash Player 10 or later, but \"9.0.115\" lets older players try to play it (\"auto\" "
                           "requires the movie's own version)\n");
    EXPECT_EQ(TLoadedContent(File("out.scr")).Values.at("Required"), "9.0.115");
}

// Packing an earlier output replaces its content: the result is the same as packing the bare runtime.
TEST_F(PackBuild, RepackingAnEarlierOutputReplacesItsContent) {
    WriteFileBytes(File("one.swf"), BuildSWF(SimpleMovie(550, 400, 0, false)));
    WriteFileBytes(File("two.swf"), BuildSWF(SimpleMovie(100, 100, 0xFF, false)));
    ASSERT_EQ(Build({File("one.swf"), "-o", File("first.scr")}).Code, 0);
    ASSERT_EQ(Build({File("two.swf"), "-o", File("direct.scr")}).Code, 0);
    const TRun again = Run({"build", File("two.swf"), "-o", File("again.scr"), "--runtime", File("first.scr")});
    ASSERT_EQ(again.Code, 0) << again.Err;
    EXPECT_NE(again.Out.find("replaced the content that " + File("first.scr") + " carried"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(File("again.scr")), ReadFileBytes(File("direct.scr")));
    // Over an existing output, too: replaced as a whole.
    ASSERT_EQ(Build({File("one.swf"), "-o", File("again.scr")}).Code, 0);
    EXPECT_EQ(ReadFileBytes(File("again.scr")), ReadFileBytes(File("first.scr")));
}

} // namespace

namespace {

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

// A signature lies behind the image: packing a signed file drops it with its directory entry, and the checksum is
// that of the image again, as a linker computes it (16-bit words with carries folded, plus the length).
TEST_F(PackBuild, PackingASignedRuntimeDropsItsSignature) {
    std::vector<uint8_t> image = BuildSimplePEImage();
    const size_t optional = 128 + 24, checksumAt = optional + 64, securityAt = optional + 96 + 32;
    Put32(image, optional + 92, 16); // NumberOfRvaAndSizes
    uint64_t sum = 0;
    for (size_t i = 0; i < image.size(); i += 2)
        if (i != checksumAt && i != checksumAt + 2) sum += image[i] | uint32_t{image[i + 1]} << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    Put32(image, checksumAt, static_cast<uint32_t>(sum + image.size()));
    WriteFileBytes(File("plain.exe"), image);

    std::vector<uint8_t> signedImage = image;
    Put32(signedImage, securityAt, static_cast<uint32_t>(image.size()));
    Put32(signedImage, securityAt + 4, 24);
    Put32(signedImage, checksumAt, 0x12345678);
    signedImage.insert(signedImage.end(), 24, 0xCE);
    WriteFileBytes(File("signed.exe"), signedImage);

    WriteFileBytes(File("movie.swf"), BuildSWF(SimpleMovie(550, 400, 0, false)));
    ASSERT_EQ(Run({"build", File("movie.swf"), "-o", File("plain.scr"), "--runtime", File("plain.exe")}).Code, 0);
    const TRun run = Run({"build", File("movie.swf"), "-o", File("resigned.scr"), "--runtime", File("signed.exe")});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_NE(
        run.Out.find("removed the signature of " + File("signed.exe") + ": sign " + File("resigned.scr") + " again\n"),
        std::string::npos)
        << run.Out;
    EXPECT_EQ(ReadFileBytes(File("resigned.scr")), ReadFileBytes(File("plain.scr")));

    // A certificate table inside the image cannot be cut away.
    Put32(signedImage, securityAt, 0x300);
    WriteFileBytes(File("inside.exe"), signedImage);
    const TRun inside = Run({"build", File("movie.swf"), "-o", File("x.scr"), "--runtime", File("inside.exe")});
    EXPECT_EQ(inside.Code, 1);
    EXPECT_EQ(inside.Err, "mutone-pack: " + File("inside.exe") +
                              ": runtime: its certificate table lies inside its image; it cannot be packed\n");
}

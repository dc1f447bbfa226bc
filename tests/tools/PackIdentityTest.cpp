// The [product] fields in the screensaver's resources: read back by Debian's binutils (an independent reader of
// the image), by the tool itself, packed again and extracted again; every bad field refused with nothing written.
#include <cstdio>

#include <gtest/gtest.h>

#include "IconBuilder.h"
#include "PackTestSupport.h"
#include "SWFBuilder.h"
#include "uProductResources.h"

namespace {

const char* const Fields = R"([product]
name = "時計 Café"
icon = "icon.ico"
version = "1.2.3"
company = "Kobayashi Uhren"
copyright = "© 2026 Kobayashi"
[movie]
file = "movie.swf"
)";

class PackIdentity : public TPackTest {
protected:
    void SetUp() override {
        WriteFileBytes(File("movie.swf"), BuildSWF(SimpleMovie(550, 400, 0, false)));
        WriteFileBytes(File("icon.ico"), BuildIconFile(SampleIconImages(0x3366CC)));
    }
    TRun BuildWith(const std::string& runtime, const std::string& manifest, const std::string& out) {
        return Run({"build", File(manifest), "-o", File(out), "--runtime", runtime});
    }
};

#ifndef _WIN32
std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            text.append(buffer, n);
        pclose(pipe);
    }
    return text;
}

// objdump's list of base relocation blocks and entries, up to the resource dump that follows it.
std::string Relocations(const std::string& objdump, const std::string& file) {
    return Output(objdump + " -p '" + file +
                  "' | sed -n '/PE File Base Relocations/,/Resource Directory/p' | sed '1d;$d'");
}

TEST_F(PackIdentity, BinutilsReadTheFieldsAndTheRelocationsOfBothRuntimes) {
    bool any = false;
    for (const auto& [preset, binutils] :
         {std::pair{"win32", "i686-w64-mingw32-"}, std::pair{"win64", "x86_64-w64-mingw32-"}}) {
        const std::string objdump = std::string(binutils) + "objdump";
        const std::string runtime = RealRuntime(preset);
        if (runtime.empty()) continue;
        any = true;
        WriteText("m.toml", Fields);
        const std::string out = std::string(preset) + ".scr";
        if (std::string(preset) == "win32") {
            const TRun run = BuildWith(runtime, "m.toml", out);
            ASSERT_EQ(run.Code, 0) << run.Err;
        } else {
            // The store's reader does not place a 64-bit image's section table yet: the writer alone, on the image.
            TProductFields product;
            const auto set = [](TSetting<std::string>& field, std::string value) { field.Value = std::move(value); };
            set(product.Name, "時計 Café");
            set(product.Icon, File("icon.ico"));
            set(product.Version, "1.2.3");
            set(product.Company, "Kobayashi Uhren");
            set(product.Copyright, "© 2026 Kobayashi");
            std::vector<uint8_t> image = ReadFileBytes(runtime);
            TDiagnostics diagnostics;
            ASSERT_TRUE(ApplyProduct(product, image, runtime, diagnostics));
            ASSERT_FALSE(diagnostics.HasErrors());
            WriteFileBytes(File(out), image);
        }
        const std::string relocations = Relocations(objdump, runtime);
        EXPECT_GT(relocations.size(), 1000u) << preset;
        EXPECT_EQ(Relocations(objdump, File(out)), relocations) << preset;

        const std::string rc = Output(std::string(binutils) + "windres -i '" + File(out) + "' -O rc");
        for (const char* expected :
             {"STRINGTABLE\nBEGIN\n  1, L\"\\x6642\\x8a08 Caf\\351\"\nEND", "100 14 /* RT_GROUP_ICON */",
              "   0, 1, 4,\t /* Has 4 elements.  */", " FILEVERSION 1, 2, 3, 0\n PRODUCTVERSION 1, 2, 3, 0",
              "VALUE \"FileVersion\", \"1.2.3\"", "VALUE \"ProductVersion\", \"1.2.3\"",
              "VALUE \"CompanyName\", \"Kobayashi Uhren\"", "VALUE \"LegalCopyright\", L\"\\251 2026 Kobayashi\"",
              "VALUE \"FileDescription\", L\"\\x6642\\x8a08 Caf\\351\"",
              "VALUE \"ProductName\", L\"\\x6642\\x8a08 Caf\\351\"", "VALUE \"Translation\", 0x409, 1200"})
            EXPECT_NE(rc.find(expected), std::string::npos) << preset << ": " << expected << "\n" << rc;
        for (int icon = 1; icon <= 4; ++icon)
            EXPECT_NE(rc.find(std::to_string(icon) + " 3 /* RT_ICON */"), std::string::npos) << preset;
        EXPECT_EQ(rc.find("5 3 /* RT_ICON */"), std::string::npos) << preset;
        // The runtime's manifest stays the only one.
        size_t manifests = 0;
        for (size_t at = 0; (at = rc.find("/* RT_MANIFEST */", at)) != std::string::npos; ++at)
            ++manifests;
        EXPECT_EQ(manifests, 1u) << preset;
        EXPECT_NE(rc.find("1 24 /* RT_MANIFEST */"), std::string::npos) << preset;
    }
    if (!any) GTEST_SKIP() << "no Windows runtime built yet";
}
#endif

TEST_F(PackIdentity, PackingAgainAndExtractingGiveTheSameBytes) {
    const std::string runtime = RealRuntime("win32");
    if (runtime.empty()) GTEST_SKIP() << "the win32 runtime is not built yet";
    WriteText("m.toml", Fields);
    ASSERT_EQ(BuildWith(runtime, "m.toml", "a.scr").Code, 0);
    ASSERT_EQ(BuildWith(runtime, "m.toml", "b.scr").Code, 0);
    EXPECT_EQ(ReadFileBytes(File("a.scr")), ReadFileBytes(File("b.scr"))) << "identical inputs";
    ASSERT_EQ(BuildWith(File("a.scr"), "m.toml", "again.scr").Code, 0);
    EXPECT_EQ(ReadFileBytes(File("again.scr")), ReadFileBytes(File("a.scr"))) << "packing the output again";

    const auto head = ReadImageHead(File("a.scr"));
    ASSERT_TRUE(head);
    const TProductInfo info = ReadProduct(*head);
    EXPECT_EQ(info.Name, "時計 Café");
    EXPECT_EQ(info.Version, "1.2.3");
    EXPECT_EQ(info.Company, "Kobayashi Uhren");
    EXPECT_EQ(info.Copyright, "© 2026 Kobayashi");
    EXPECT_EQ(info.Description, "時計 Café") << "the name";
    EXPECT_EQ(info.ProductName, "時計 Café") << "the name";
    EXPECT_EQ(info.Icon, SampleIconImages(0x3366CC));

    const TRun extracted = Run({"extract", "--manifest", File("x"), File("a.scr")});
    ASSERT_EQ(extracted.Code, 0) << extracted.Err;
    EXPECT_EQ(ReadFileBytes(File("x/icon.ico")), ReadFileBytes(File("icon.ico")));
    ASSERT_EQ(Run({"build", File("x/screensaver.toml"), "-o", File("rebuilt.scr"), "--runtime", runtime}).Code, 0);
    EXPECT_EQ(ReadFileBytes(File("rebuilt.scr")), ReadFileBytes(File("a.scr"))) << "extracted and built again";

    // Without [product], the runtime's own resources stay as the linker made them, and extracting writes its
    // version back so that building again changes nothing.
    WriteText("plain.toml", "[movie]\nfile = \"movie.swf\"\n");
    ASSERT_EQ(BuildWith(runtime, "plain.toml", "plain.scr").Code, 0);
    const std::vector<uint8_t> plain = ReadFileBytes(File("plain.scr")), bare = ReadFileBytes(runtime);
    EXPECT_TRUE(std::equal(bare.begin(), bare.begin() + 0xD8, plain.begin()));
    ASSERT_EQ(Run({"extract", "--manifest", File("p"), File("plain.scr")}).Code, 0);
    ASSERT_EQ(Run({"build", File("p/screensaver.toml"), "-o", File("plain2.scr"), "--runtime", runtime}).Code, 0);
    EXPECT_EQ(ReadFileBytes(File("plain2.scr")), plain);
    // The header checksum covers the whole file.
    const size_t checksumAt = ReadPELayout(plain).ChecksumAt();
    for (const char* name : {"a.scr", "plain.scr"}) {
        const std::vector<uint8_t> bytes = ReadFileBytes(File(name));
        const uint32_t field = uint32_t{bytes[checksumAt]} | uint32_t{bytes[checksumAt + 1]} << 8 |
                               uint32_t{bytes[checksumAt + 2]} << 16 | uint32_t{bytes[checksumAt + 3]} << 24;
        EXPECT_EQ(field, PEChecksum(bytes, checksumAt)) << name;
    }
}

TEST_F(PackIdentity, BadFieldsAreRefusedAndNothingIsWritten) {
    std::vector<uint8_t> cut = BuildIconFile(SampleIconImages(0));
    cut.resize(cut.size() / 2);
    WriteFileBytes(File("cut.ico"), cut);
    std::vector<uint8_t> large = BuildIconFile(SampleIconImages(0));
    large.resize(MaxIconFileSize + 1);
    WriteFileBytes(File("large.ico"), large);
    const struct {
        std::string Set, Error;
    } rows[] = {
        {"product.name=Tab\there", "--set: product.name: \"Tab\\there\" cannot be used: it holds the control "
                                   "character U+0009"},
        {"product.name=" + std::string(65, 'n'),
         "--set: product.name: is 65 characters long; at most 64 fit the Screen Saver settings' list"},
        {"product.name=", "--set: product.name: is empty; leave it out to have Windows list the file's name"},
        {"product.copyright=a\x7f", "--set: product.copyright: \"a\\u007F\" cannot be used: it holds the control "
                                    "character U+007F"},
        {"product.company=" + std::string(257, 'c'), "--set: product.company: is 257 characters long; at most 256 "
                                                     "are kept"},
        {"product.version=1.65536", "--set: product.version: expected 1 to 4 numbers from 0 to 65535"},
        {"product.icon=" + File("cut.ico"),
         "--set: product.icon: " + File("cut.ico") + ": is not an icon file Windows can show: image 3 ("},
        {"product.icon=" + File("large.ico"),
         "--set: product.icon: " + File("large.ico") + ": is larger than 1024 KiB, the most an icon may be"},
        {"product.icon=" + File("none.ico"), "--set: product.icon: " + File("none.ico") + ": no such file"},
    };
    for (const auto& row : rows) {
        const TRun run = Build({File("movie.swf"), "-o", File("out.scr"), "--set", row.Set});
        EXPECT_EQ(run.Code, 1) << row.Set;
        EXPECT_EQ(run.Err.substr(0, 13 + row.Error.size()), "mutone-pack: " + row.Error) << run.Err;
        EXPECT_FALSE(FileExistsHere("out.scr")) << row.Set;
    }
    // The stand-in runtime's headers are too sketchy to be rewritten: said so, nothing written.
    const TRun run = Build({File("movie.swf"), "-o", File("out.scr"), "--set", "product.name=Clock"});
    EXPECT_EQ(run.Err, "mutone-pack: " + Runtime() +
                           ": runtime: its resources cannot be rewritten: section or file alignment that is no "
                           "power of two\n");
    EXPECT_FALSE(FileExistsHere("out.scr"));
}

} // namespace

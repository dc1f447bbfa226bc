// What the documentation shows builds: the README's manifests, the starter that init writes, the main job's sample.
#include <fstream>

#include <gtest/gtest.h>

#include "BMPBuilder.h"
#include "IconBuilder.h"
#include "PackTestSupport.h"
#include "SWFBuilder.h"
#include "uManifest.h"

namespace {

std::string SourceFile(const std::string& relative) {
    std::ifstream in(std::string(MUTONE_SOURCE_DIR) + "/" + relative, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every ```toml block of a Markdown text.
std::vector<std::string> TomlBlocks(const std::string& markdown) {
    std::vector<std::string> blocks;
    for (size_t at = 0; (at = markdown.find("```toml\n", at)) != std::string::npos;) {
        at += 8;
        const size_t end = markdown.find("```", at);
        blocks.push_back(markdown.substr(at, end - at));
        at = end;
    }
    return blocks;
}

class PackDocs : public TPackTest {
protected:
    // Makes every file the manifest names (a movie, a picture, further files), then builds it.
    TRun BuildWithInputs(const std::string& manifest) {
        TManifest m;
        TDiagnostics diagnostics;
        EXPECT_TRUE(LoadManifest(manifest, {}, m, diagnostics));
        if (m.MovieFile.Given()) WriteFileBytes(*m.MovieFile.Value, BuildSWF(SimpleMovie(550, 400, 0x3366CC, false)));
        if (m.Picture.Given())
            WriteFileBytes(*m.Picture.Value,
                           BuildBMP(MakeBitmap(std::vector<uint32_t>(64 * 48, 0xFF8800), 64, 48, 24, false)));
        for (const TManifestFile& file : m.Files) {
            std::filesystem::create_directories(std::filesystem::path(*file.Path.Value).parent_path());
            WriteFileBytes(*file.Path.Value, {'d', 'a', 't', 'a'});
        }
        if (m.Product.Icon.Given()) WriteFileBytes(*m.Product.Icon.Value, BuildIconFile(SampleIconImages(0x3366CC)));
        // The [product] fields need a runtime with resources: the Windows one, once its build made it.
        const TProductFields& p = m.Product;
        if (p.Name.Given() || p.Icon.Given() || p.Version.Given() || p.Company.Given() || p.Copyright.Given() ||
            p.Description.Given() || p.ProductName.Given()) {
            const std::string runtime = std::string(MUTONE_SOURCE_DIR) + "/build/win32/src/app/mutone.scr";
            if (!RegularFileSize(runtime)) return {-1, "", "no Windows runtime built yet"};
            return Run({"build", manifest, "-o", File("out.scr"), "--runtime", runtime});
        }
        return Build({manifest, "-o", File("out.scr")});
    }
};

TEST_F(PackDocs, TheReadmesManifestsBuild) {
    const std::vector<std::string> blocks = TomlBlocks(SourceFile("README.md"));
    ASSERT_FALSE(blocks.empty()) << "the README shows a manifest";
    for (const std::string& block : blocks) {
        WriteText("readme.toml", block);
        const TRun run = BuildWithInputs(File("readme.toml"));
        EXPECT_EQ(run.Code, 0) << block;
        EXPECT_EQ(run.Err, "") << block;
    }
}

TEST_F(PackDocs, TheSampleOfTheMainJobBuilds) {
    WriteText("screensaver.toml", SourceFile("samples/demo/screensaver.toml"));
    const TRun run = BuildWithInputs(File("screensaver.toml"));
    if (run.Code == -1) GTEST_SKIP() << run.Err;
    EXPECT_EQ(run.Code, 0);
    EXPECT_EQ(run.Err, "");
}

TEST_F(PackDocs, InitWritesAStarterThatBuildsAndIsNeverReplaced) {
    const TRun init = Run({"init", File("screensaver.toml")});
    ASSERT_EQ(init.Code, 0) << init.Err;
    EXPECT_EQ(init.Out, "wrote " + File("screensaver.toml") + "; fill it in, then: mutone-pack build " +
                            File("screensaver.toml") + " -o OUT.scr\n");
    WriteFileBytes(File("movie.swf"), BuildSWF(SimpleMovie(550, 400, 0, false)));
    const TRun build = Build({File("screensaver.toml"), "-o", File("out.scr")});
    EXPECT_EQ(build.Code, 0);
    EXPECT_EQ(build.Err, "");

    const std::vector<uint8_t> before = ReadFileBytes(File("screensaver.toml"));
    const TRun again = Run({"init", File("screensaver.toml"), "--movie", "other.swf"});
    EXPECT_EQ(again.Code, 1);
    EXPECT_EQ(again.Err, "mutone-pack: " + File("screensaver.toml") + ": exists already; it is not replaced\n");
    EXPECT_EQ(ReadFileBytes(File("screensaver.toml")), before);

    ASSERT_EQ(Run({"init", File("clip.toml"), "--movie", "clip.swf"}).Code, 0);
    TManifest manifest;
    TDiagnostics diagnostics;
    ASSERT_TRUE(LoadManifest(File("clip.toml"), {}, manifest, diagnostics));
    EXPECT_EQ(*manifest.MovieFile.Value, File("clip.swf"));
}

} // namespace

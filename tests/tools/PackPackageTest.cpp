// The package command natively: the codes and escapes it writes into scripts, and the packages makensis and wixl
// make from them, read back with msitools' msiinfo rather than trusted.
#include <cstdio>
#include <fstream>

#include "PackTestSupport.h"
#include "SWFBuilder.h"
#include "forms/FileStream.h"
#include "uContentId.h"
#include "uMsiSummary.h"
#include "uNsisScript.h"
#include "uPackage.h"
#include "uWixDocument.h"

namespace {

std::string Hex(const std::string& bytes) {
    std::string hex;
    char two[3];
    for (char c : bytes) {
        std::snprintf(two, sizeof two, "%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
        hex += two;
    }
    return hex;
}

TEST(PackageCodes, NameBasedUuidsAndSha1MatchTheirReferences) {
    // Python's hashlib and uuid.uuid5 give these.
    EXPECT_EQ(Hex(Sha1("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(Hex(Sha1(std::string(1000, 'a'))), "291e9a6c66994949b57ba5e650361e98fc36b1ba");
    EXPECT_EQ(NameBasedUuid("6ba7b810-9dad-11d1-80b4-00c04fd430c8", "example.com"),
              "CFBFF0D1-9375-5685-968C-48CE8B15AE17");
    EXPECT_EQ(NameBasedUuid("{6F1D2C8B-4A3E-4B57-9E0D-5C7A8B1F2E64}", "upgrade|x"),
              "D3DB701E-005A-5249-9379-259EFB038FC5");
}

TEST(PackageTexts, NsisEscapesKeepManifestTextsPlain) {
    const std::pair<const char*, const char*> rows[] = {
        {"My $WINDIR \"x\"", "\"My $$WINDIR $\\\"x$\\\"\""},
        {"$\\n ${x} $(var.y)", "\"$$\\n $${x} $$(var.y)\""},
        {"line\r\nbreak\ttab", "\"line$\\r$\\nbreak$\\ttab\""},
        {"back\\", "\"back\\\""}, // no line continuation: the quote ends the line
    };
    for (const auto& [text, nsis] : rows)
        EXPECT_EQ(NsisString(text), nsis) << text;
}

TEST(PackageTexts, TheWixDocumentHoldsNoManifestText) {
    TPackageInfo info{"a]]><x/> $(var.x) \"",
                      "1.0.0.0",
                      "Me & Co",
                      "a]]__x__ $(var.x) _.scr",
                      "screensaver.scr",
                      "package.msi",
                      false,
                      "{11111111-2222-5333-8444-555555555555}",
                      "{66666666-7777-5888-9999-AAAAAAAAAAAA}"};
    const TWixDocument doc = WixDocument(info);
    EXPECT_EQ(doc.Text.find("a]]"), std::string::npos);
    EXPECT_EQ(doc.Text.find("Me &"), std::string::npos);
    EXPECT_EQ(doc.Defines, (std::vector<std::string>{"ProductName=" + info.Name, "Manufacturer=Me & Co",
                                                     "FileName=" + info.FileName}));
}

TEST(PackageTexts, SafeFileNamesAreNamesWindowsKeeps) {
    const std::pair<const char*, const char*> rows[] = {
        {"My $WINDIR \"x\"", "My $WINDIR _x_"},
        {"a]]><x/>", "a]]__x__"},
        {"C:\\dir/x", "C__dir_x"},
        {"clock. . ", "clock"},
        {"...", "screensaver"},
        {"CON", "CON_"},
        {"  lead", "lead"},
        {"tab\there", "tab_here"},
    };
    for (const auto& [name, safe] : rows)
        EXPECT_EQ(SafeFileName(name), safe) << name;
}

TEST(PackageMsiSummary, DamagedFilesAreRefused) {
    TTempDir dir;
    const std::vector<std::vector<uint8_t>> files = {
        {},                                               // empty
        std::vector<uint8_t>(600, 0),                     // no signature
        {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}, // a signature and nothing else
    };
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string name = dir.File("bad" + std::to_string(i) + ".msi");
        WriteFileBytes(name, files[i]);
        TFileStream file(name, TFileMode::fmOpenRead);
        EXPECT_THROW(FixMsiSummary(file, "{00000000-0000-0000-0000-000000000000}", 0), EReadError) << i;
    }
}

// The packages made from a small movie and the stand-in runtime; skipped where the packaging tools are missing.
class PackageCommand : public TPackTest {
protected:
    void SetUp() override {
        if (FindProgram("makensis").empty() || FindProgram("wixl").empty() || FindProgram("msiinfo").empty())
            GTEST_SKIP() << "makensis, wixl or msiinfo missing (scripts/install-deps.sh installs them)";
        if (RealRuntime("win32").empty() || RealRuntime("win64").empty())
            GTEST_SKIP() << "the win32 and win64 runtimes are not built yet";
        WriteFileBytes(File("clock.swf"), BuildSWF(SimpleMovie(64, 48, 0x336699, false)));
        WriteText("screensaver.toml", "id = \"{9A0B7C3E-1D2F-4E5A-8B6C-7D8E9F0A1B2C}\"\n[movie]\nfile = \"clock.swf\"\n"
                                      "[product]\nname = \"a]]><x/> $WINDIR $(var.x)\"\nversion = \"1.2\"\n");
    }
    // The real runtime: the product's resources are written into it as the build does.
    TRun Package(std::vector<std::string> args, const std::string& runtime = "") {
        args.insert(args.begin(), {"package", File("screensaver.toml"), "--runtime",
                                   runtime.empty() ? RealRuntime("win32") : runtime});
        return Run(args);
    }
    // msiinfo export of one table, its rows below the three header lines.
    std::string Table(const std::string& msi, const std::string& table) {
        const std::string text = File(table + ".txt");
        const std::string command = "msiinfo export '" + msi + "' " + table + " > '" + text + "' 2>&1";
        if (std::system(command.c_str()) != 0) return "msiinfo failed";
        std::ifstream in(text);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::string Summary(const std::string& msi) {
        const std::string text = File("summary.txt");
        if (std::system(("TZ=UTC0 msiinfo suminfo '" + msi + "' > '" + text + "' 2>&1").c_str()) != 0) return {};
        std::ifstream in(text);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};

TEST_F(PackageCommand, BothPackagesAreMadeTheSameTwiceAndCarryTheTextsAsWritten) {
    const TRun first = Package({"--setup", File("out/setup.exe"), "--msi", File("out/package.msi")});
    ASSERT_EQ(first.Code, 0) << first.Err;
    const auto setup = ReadFileBytes(File("out/setup.exe")), msi = ReadFileBytes(File("out/package.msi"));
    ASSERT_EQ(Package({"--setup", File("out/setup.exe"), "--msi", File("out/package.msi")}).Code, 0);
    EXPECT_EQ(setup, ReadFileBytes(File("out/setup.exe")));
    EXPECT_EQ(msi, ReadFileBytes(File("out/package.msi")));
    EXPECT_EQ(FilesIn("out"), (std::vector<std::string>{"package.msi", "setup.exe"})) << "work files left behind";

    const std::string property = Table(File("out/package.msi"), "Property");
    EXPECT_NE(property.find("ProductName\ta]]><x/> $WINDIR $(var.x)\r\n"), std::string::npos) << property;
    EXPECT_NE(property.find("ProductVersion\t1.2.0.0\r\n"), std::string::npos) << property;
    const std::string summary = Summary(File("out/package.msi"));
    EXPECT_NE(summary.find("Created: Sat Jan  1 00:00:00 2000"), std::string::npos) << summary;
    EXPECT_NE(summary.find("Last saved: Sat Jan  1 00:00:00 2000"), std::string::npos) << summary;
    EXPECT_NE(summary.find("Template: Intel;1033"), std::string::npos) << summary;

    const std::string directory = Table(File("out/package.msi"), "Directory");
    EXPECT_NE(directory.find("SystemFolder\tTARGETDIR"), std::string::npos) << directory;
    const std::string file = Table(File("out/package.msi"), "File");
    EXPECT_NE(file.find("a]]__x__ $WINDIR $(var.x).scr"), std::string::npos) << file;
    const std::string registry = Table(File("out/package.msi"), "Registry");
    EXPECT_NE(registry.find("Control Panel\\Desktop\tSCRNSAVE.EXE\t[#ScreenSaver]"), std::string::npos) << registry;
    EXPECT_NE(registry.find("Uninstall\\[ProductCode]\tDisplayIcon\t[#ScreenSaver]"), std::string::npos) << registry;
    const std::string upgrade = Table(File("out/package.msi"), "Upgrade");
    EXPECT_NE(upgrade.find("WIX_UPGRADE_DETECTED"), std::string::npos) << upgrade;
    const std::string features = Table(File("out/package.msi"), "FeatureComponents");
    EXPECT_NE(features.find("MakeCurrent\tCurrentScreenSaver"), std::string::npos) << features;
    EXPECT_NE(features.find("ScreenSaver\tScreenSaverFile"), std::string::npos) << features;
}

TEST_F(PackageCommand, A64BitScreensaverGoesIntoTheRealSystemFolderAsA64BitComponent) {
    const TRun run =
        Package({"--msi", File("x64.msi"), "--setup", File("x64.exe"), "--arch", "x64"}, RealRuntime("win64"));
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_NE(run.Out.find("(x64)"), std::string::npos) << run.Out;
    EXPECT_NE(Table(File("x64.msi"), "Directory").find("System64Folder\tTARGETDIR"), std::string::npos);
    // Component attributes: 256 is msidbComponentAttributes64bit.
    const std::string components = Table(File("x64.msi"), "Component");
    EXPECT_NE(components.find("ScreenSaverFile\t{"), std::string::npos) << components;
    for (const char* id : {"ScreenSaverFile", "CurrentScreenSaver"}) {
        const size_t row = components.find(std::string(id) + "\t{");
        ASSERT_NE(row, std::string::npos) << components;
        const std::string line = components.substr(row, components.find('\n', row) - row);
        const std::string attributes = line.substr(line.find("\t", line.find('}')) + 1);
        EXPECT_TRUE(std::stoi(attributes.substr(attributes.find('\t') + 1)) & 256) << line;
    }
    EXPECT_NE(Summary(File("x64.msi")).find("Template: x64;1033"), std::string::npos);
}

TEST_F(PackageCommand, WhatAPackageCannotCarryIsReportedWithItsFieldAndNothingIsWritten) {
    const struct {
        std::vector<std::string> Args;
        std::string Expected;
    } rows[] = {
        {{"--msi", File("o.msi"), "--wixl", File("no-wixl")}, "no-wixl: msi: wixl was not found"},
        {{"--setup", File("o.exe"), "--makensis", File("no-makensis")},
         "no-makensis: setup: NSIS's makensis was not found"},
        {{"--msi", File("o.msi"), "--set", "product.version=256.1"}, "product.version: \"256.1\" cannot be an MSI"},
        {{"--setup", File("o.exe"), "--set", "product.name=\"two\\nlines\""}, "product.name: "},
        {{"--msi", File("o.msi"), "--set", "product.name=Uhr \xC3\xA9"}, "product.name: the MSI package carries texts"},
    };
    for (const auto& row : rows) {
        const TRun run = Package(row.Args);
        EXPECT_EQ(run.Code, 1) << row.Expected;
        EXPECT_NE(run.Err.find(row.Expected), std::string::npos) << run.Err;
    }
    std::vector<uint8_t> arm = BuildSimplePEImage();
    const uint32_t nt = arm[60] | uint32_t{arm[61]} << 8;
    arm[nt + 4] = 0xC4, arm[nt + 5] = 0x01;
    WriteFileBytes(File("arm.exe"), arm);
    const TRun run = Package({"--setup", File("o.exe")}, File("arm.exe"));
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Err.find("runtime: is a program for machine 0x01c4"),
              std::string::npos)
        << run.Err;
    EXPECT_FALSE(FileExistsHere("o.msi") || FileExistsHere("o.exe"));
    EXPECT_EQ(Run({"package", File("screensaver.toml")}).Code, 2) << "no output asked for";
}

} // namespace

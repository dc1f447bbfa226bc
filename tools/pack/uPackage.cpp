#include "uPackage.h"

#include <memory>
#include <ostream>
#include <sstream>

#include "forms/FileStream.h"
#include "store/uPEUtils.h"
#include "support/uPathSafety.h"
#include "uContentId.h"
#include "uMsiSummary.h"
#include "uNsisScript.h"
#include "uPackBuild.h"
#include "uPackError.h"
#include "uPackFiles.h"
#include "uWixDocument.h"

namespace {

// The namespace of this tool's name-based codes.
constexpr const char* CodeSpace = "{6F1D2C8B-4A3E-4B57-9E0D-5C7A8B1F2E64}";
// The time both packages give as their own and their files': 2000-01-01 00:00 UTC.
constexpr int64_t FixedUnixTime = 946684800;
constexpr uint64_t FixedFileTime = (static_cast<uint64_t>(FixedUnixTime) + 11644473600ull) * 10000000ull;

constexpr uint16_t MachineX86 = 0x14C;
constexpr uint16_t MachineX64 = 0x8664;

// The files a package is made of, in a folder beside its output that is removed afterwards, whatever happened.
class TWorkFolder {
public:
    explicit TWorkFolder(const std::string& beside) {
        for (int attempt = 0; attempt < 100 && FPath.empty(); ++attempt) {
            const std::string path = JoinPath(DirectoryOf(beside), "." + FileNameOf(beside) + ".work" +
                                                                       (attempt ? std::to_string(attempt) : ""));
            if (CreateNewFolder(path)) FPath = path;
        }
        if (FPath.empty()) throw EPackError(beside, "cannot create a work folder beside it");
    }
    ~TWorkFolder() {
        for (const std::string& name : FFiles)
            RemoveFile(File(name));
        RemoveEmptyFolder(FPath);
    }
    TWorkFolder(const TWorkFolder&) = delete;
    TWorkFolder& operator=(const TWorkFolder&) = delete;

    const std::string& Path() const { return FPath; }
    // A file of the folder, removed with it.
    std::string Add(const std::string& name) {
        FFiles.push_back(name);
        return File(name);
    }
    std::string File(const std::string& name) const { return JoinPath(FPath, name); }

private:
    std::string FPath;
    std::vector<std::string> FFiles;
};

void WriteText(const std::string& fileName, const std::string& text) {
    TFileStream file(fileName, TFileMode::fmCreateNew);
    file.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

std::string ReadLog(const std::string& fileName) {
    try {
        TMemoryStream log;
        log.LoadFromFile(fileName);
        std::string text(reinterpret_cast<const char*>(log.Memory()), static_cast<size_t>(log.Length()));
        if (text.size() > 4000) text = "..." + text.substr(text.size() - 4000);
        return text;
    } catch (const Exception&) {
        return {};
    }
}

// Runs a packaging tool in the work folder; raises EPackError naming output, with the tool's own words.
void RunTool(const std::vector<std::string>& args, TWorkFolder& work, const std::string& output,
             const std::string& made) {
    const std::string log = work.Add(FileNameOf(made) + ".log");
    const int code = RunProgram(args, work.Path(), log);
    const bool madeIt = RegularFileSize(work.File(made)).has_value();
    if (code != 0 || !madeIt)
        throw EPackError(
            output, args[0] + (code < 0 ? " could not be run" : " failed (exit code " + std::to_string(code) + ")") +
                        (code == 0 ? " and made no " + made : "") + ":\n" + ReadLog(log));
}

std::string Digest(const std::string& fileName) {
    TXxh64 hash;
    TFileStream file(fileName, TFileMode::fmOpenRead);
    std::vector<uint8_t> buffer(1 << 20);
    for (int32_t n; (n = file.Read(buffer.data(), static_cast<int32_t>(buffer.size()))) > 0;)
        hash.Update(buffer.data(), static_cast<size_t>(n));
    return std::to_string(hash.Digest());
}

// Copies from into a new file beside to and renames it into place.
void Publish(const std::string& from, const std::string& to, const std::string& packageCode) {
    const std::string partial = JoinPath(DirectoryOf(to), "." + FileNameOf(to) + ".partial");
    RemoveFile(partial); // a leftover of an interrupted run of ours
    try {
        TFileStream source(from, TFileMode::fmOpenRead);
        TFileStream target(partial, TFileMode::fmCreateNew);
        target.CopyFrom(source, 0);
        if (!packageCode.empty()) FixMsiSummary(target, packageCode, FixedFileTime);
    } catch (const Exception& e) {
        RemoveFile(partial);
        throw EPackError(to, e.Message());
    }
    if (!RenameOver(partial, to)) {
        RemoveFile(partial);
        throw EPackError(to, "cannot replace it");
    }
}

bool IsAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

bool HasControl(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

// The version as four numbers; the manifest has already checked that it is 1 to 4 numbers of 0 to 65535.
std::vector<uint32_t> VersionNumbers(const std::string& version) {
    std::vector<uint32_t> numbers(1, 0);
    for (char c : version) {
        if (c == '.')
            numbers.push_back(0);
        else if (c >= '0' && c <= '9')
            numbers.back() = numbers.back() * 10 + static_cast<uint32_t>(c - '0');
    }
    numbers.resize(4, 0);
    return numbers;
}

std::string StemOf(const std::string& path) {
    std::string name = FileNameOf(path);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

} // namespace

std::string SafeFileName(std::string_view name) {
    std::string safe;
    for (char c : name)
        safe +=
            static_cast<unsigned char>(c) < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos
                ? '_'
                : c;
    while (!safe.empty() && (safe.back() == '.' || safe.back() == ' '))
        safe.pop_back();
    while (!safe.empty() && safe.front() == ' ')
        safe.erase(0, 1);
    if (safe.size() > 200) safe.resize(200);
    if (safe.empty()) return "screensaver";
    if (!IsSafeFileName(safe + ".scr")) safe += '_'; // a device name, which Windows would open instead
    return safe;
}

int RunPackage(const TPackageRequest& request, std::ostream& out, std::ostream& err) {
    TDiagnostics diagnostics;
    std::string makensis, wixl;
    if (!request.Setup.empty()) {
        makensis = FindProgram(request.Makensis.empty() ? "makensis" : request.Makensis);
        if (makensis.empty())
            diagnostics.Error({request.Makensis.empty() ? "makensis" : request.Makensis}, "setup",
                              "NSIS's makensis was not found" +
                                  std::string(request.Makensis.empty() ? " on the PATH" : "") +
                                  "; install NSIS (Debian: nsis) or name it with --makensis FILE");
    }
    if (!request.Msi.empty()) {
        wixl = FindProgram(request.Wixl.empty() ? "wixl" : request.Wixl);
        if (wixl.empty())
            diagnostics.Error({request.Wixl.empty() ? "wixl" : request.Wixl}, "msi",
                              "wixl was not found" + std::string(request.Wixl.empty() ? " on the PATH" : "") +
                                  "; install msitools (Debian: wixl) or name it with --wixl FILE");
    }
    if (!request.Setup.empty() && !request.Msi.empty() && SameFile(request.Setup, request.Msi))
        diagnostics.Error({request.Msi}, "msi", "is also the setup program's output");
    for (const std::string* output : {&request.Setup, &request.Msi})
        for (const std::string* input : {&request.Input, &request.Runtime})
            if (!output->empty() && !input->empty() && SameFile(*output, *input))
                diagnostics.Error({*output}, "output", "is " + *input + ", an input; choose another output file");
    for (const TDiagnostic& d : diagnostics.All())
        err << "mutone-pack: " << FormatDiagnostic(d) << "\n";
    if (diagnostics.HasErrors()) return 1;

    const std::string first = request.Setup.empty() ? request.Msi : request.Setup;
    for (const std::string* output : {&request.Setup, &request.Msi}) {
        const std::string folder = DirectoryOf(*output);
        if (!output->empty() && !folder.empty() && !CreateDirectories(folder))
            throw EPackError(folder, "cannot create the folder");
    }
    TWorkFolder work(first);

    // The screensaver exactly as the build command makes it.
    TBuildRequest build{request.Input, work.Add("screensaver.scr"), request.Runtime, request.Arch, request.Sets};
    TBuildResult built;
    std::ostringstream buildOut;
    if (RunBuild(build, buildOut, err, &built) != 0) return 1;
    const TManifest& m = built.Manifest;
    const TProductFields& product = m.Product;

    TPackageInfo info;
    TSourcePos nameWhere = product.Name.Where;
    if (product.Name.Given()) {
        info.Name = *product.Name.Value;
    } else {
        info.Name = StemOf(m.MovieFile.Written.empty() ? m.MovieFile.Value.value_or(m.Source) : m.MovieFile.Written);
        nameWhere = m.MovieFile.Where;
    }
    if (info.Name.empty() || HasControl(info.Name))
        diagnostics.Error(nameWhere, "product.name",
                          "a package cannot carry a name that is empty or holds control characters (line breaks, "
                          "tabs)");
    if (HasControl(product.Company.Value.value_or("")))
        diagnostics.Error(product.Company.Where, "product.company",
                          "a package cannot carry a text with control characters (line breaks, tabs)");
    info.Company = product.Company.Value.value_or("");

    const std::vector<uint32_t> version = VersionNumbers(product.Version.Value.value_or("1.0.0.0"));
    info.Version = std::to_string(version[0]) + "." + std::to_string(version[1]) + "." + std::to_string(version[2]) +
                   "." + std::to_string(version[3]);
    if (!request.Msi.empty()) {
        // Windows Installer's own limits: major and minor versions of at most 255.
        if (version[0] > 255 || version[1] > 255)
            diagnostics.Error(product.Version.Where, "product.version",
                              "\"" + *product.Version.Value +
                                  "\" cannot be an MSI package's version: its first two numbers may be at most 255");
        // Nor does it compare the fourth number: 1.0.0.1 would be installed beside 1.0.0.0 instead of replacing it.
        if (version[3] != 0)
            diagnostics.Error(product.Version.Where, "product.version",
                              "\"" + *product.Version.Value +
                                  "\": an MSI package tells versions apart by their first three numbers only, so "
                                  "its fourth must be 0 (count up the third instead)");
        if (!IsAscii(info.Name) || !IsAscii(info.Company))
            diagnostics.Error(product.Name.Given() && !IsAscii(info.Name) ? nameWhere : product.Company.Where,
                              IsAscii(info.Name) ? "product.company" : "product.name",
                              "the MSI package carries texts of ASCII characters only; the setup program (--setup) "
                              "carries any");
    }
    info.FileName = SafeFileName(info.Name) + ".scr";
    info.Source = "screensaver.scr";

    const std::string scr = work.File("screensaver.scr");
    uint16_t machine = 0;
    try {
        TPEImage image(scr);
        machine = image.NTHeaders() ? image.NTHeaders()->Headers().Machine : 0;
    } catch (const Exception&) {
    }
    if (machine != MachineX86 && machine != MachineX64) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04X", machine);
        diagnostics.Error({request.Runtime.empty() ? std::string(RuntimeFileNames[0]) : request.Runtime}, "runtime",
                          "not a screensaver that can be packaged: its machine type is 0x" + std::string(hex) +
                              ", neither x86 (0x014C) nor x64 (0x8664)");
    }
    info.X64 = machine == MachineX64;
    if (built.IdDerived)
        diagnostics.Warn(m.Id.Where.File.empty() ? TSourcePos{m.Source} : m.Id.Where, "id",
                         "derived from the content: a later version with other content would be installed beside this "
                         "one instead of replacing it; give this id in the manifest (id = \"" +
                             built.Id + "\")");
    for (const TDiagnostic& d : diagnostics.All())
        err << "mutone-pack: " << FormatDiagnostic(d) << "\n";
    if (diagnostics.HasErrors()) return 1;

    const std::string arch = info.X64 ? "x64" : "x86";
    info.UpgradeCode = "{" + NameBasedUuid(CodeSpace, "upgrade|" + built.Id) + "}";
    info.ProductCode = "{" + NameBasedUuid(info.UpgradeCode, "product|" + info.Version + "|" + arch) + "}";
    // Cabinets and NSIS's data carry file times: the same one on every build.
    SetModificationTime(scr, FixedUnixTime);

    std::string setupMade, msiMade, packageCode;
    if (!request.Setup.empty()) {
        info.Output = "setup.exe";
        WriteText(work.Add("setup.nsi"), NsisScript(info));
        setupMade = work.Add(info.Output);
        RunTool({makensis, "-V2", "-INPUTCHARSET", "UTF8", "setup.nsi"}, work, request.Setup, info.Output);
    }
    if (!request.Msi.empty()) {
        info.Output = "package.msi";
        const TWixDocument document = WixDocument(info);
        WriteText(work.Add("package.wxs"), document.Text);
        msiMade = work.Add(info.Output);
        std::vector<std::string> args = {wixl, "-o", info.Output};
        for (const std::string& define : document.Defines)
            args.insert(args.end(), {"-D", define});
        if (info.X64) args.insert(args.end(), {"-a", "x64"});
        args.push_back("package.wxs");
        RunTool(args, work, request.Msi, info.Output);
        // The package code names these bytes: it follows from everything that went into them.
        packageCode =
            "{" +
            NameBasedUuid(info.ProductCode, "package|" + Digest(scr) + "|" + Digest(work.File("package.wxs")) + "|" +
                                                info.Name + "|" + info.Company) +
            "}";
    }
    // Only now, with every package made, is anything put in place.
    if (!setupMade.empty()) {
        Publish(setupMade, request.Setup, "");
        out << "wrote " << request.Setup << ": the setup program (" << arch << ") of \"" << info.Name << "\" "
            << info.Version << ", installing " << info.FileName << "\n";
    }
    if (!msiMade.empty()) {
        Publish(msiMade, request.Msi, packageCode);
        out << "wrote " << request.Msi << ": the MSI package (" << arch << ") of \"" << info.Name << "\" "
            << info.Version << ", product code " << info.ProductCode << ", upgrade code " << info.UpgradeCode << "\n";
    }
    return 0;
}

#include "uPackCommands.h"

#include <algorithm>
#include <new>
#include <ostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "uDoctor.h"
#include "uManifestWriter.h"
#include "uPackBuild.h"
#include "uPackError.h"
#include "uPackView.h"
#include "uPackage.h"

namespace {

// One row per command, for the usage text.
struct TCommandHelp {
    const char* Head;
    const char* Summary;
};

constexpr TCommandHelp CommandHelp[] = {
    {"build MANIFEST|MOVIE -o OUT [--runtime FILE] [--set KEY=VALUE]...",
     "write the screensaver OUT: the runtime with the movie and settings behind it"},
    {"package MANIFEST|MOVIE [--setup EXE] [--msi MSI] [--set KEY=VALUE]...",
     "build the screensaver and make a setup program and/or an MSI package that install it"},
    {"init [MANIFEST] [--movie MOVIE]", "write a starter manifest (screensaver.toml) to fill in"},
    {"info [--json] FILE", "where FILE's content store sits and how many items it holds"},
    {"list [--json] FILE", "the items of FILE's content store, in store order"},
    {"extract FILE DIR", "write each item to DIR/NNNN.bin and the item list to DIR/items.json"},
    {"extract --manifest DIR FILE", "write a manifest and its files to DIR that build FILE's content again"},
    {"doctor [--json] [FILE]", "will FILE (default: the screensaver Windows starts) play here, and if not, why"},
};

bool IsHelp(const std::string& arg) {
    return arg == "--help" || arg == "-h" || arg == "help";
}

// The parsed command line; each command reads what it registered.
struct TParsed {
    bool Json = false;
    std::string File;
    std::string Dir;
    std::string ManifestDir;
    int CodePage = 0;
    TBuildRequest Build;
    TPackageRequest Package;
    std::string Movie;
};

int Info(const TParsed& p, std::ostream& out) {
    TStoreReport report;
    ReadStoreReport(p.File, report);
    out << (p.Json ? InfoJson(report) : InfoText(report));
    return 0;
}

int List(const TParsed& p, std::ostream& out) {
    TStoreReport report;
    ReadStoreReport(p.File, report);
    out << (p.Json ? ListJson(report.Items) : ListText(report.Items));
    return 0;
}

int Extract(const TParsed& p, std::ostream& out) {
    if (p.ManifestDir.empty() == p.Dir.empty())
        throw EUsageError(p.Dir.empty() ? "extract: missing DIR" : "extract: DIR and --manifest DIR both given");
    TStoreReport report;
    // Read everything first, so that a damaged store leaves no half-written directory behind.
    ReadStoreReport(p.File, report);
    if (!p.ManifestDir.empty()) {
        out << ExtractManifest(p.File, report.Items, p.ManifestDir, p.CodePage);
        return 0;
    }
    ExtractItems(p.File, report.Items, p.Dir);
    out << "extracted " << report.Items.size() << (report.Items.size() == 1 ? " item" : " items") << " to " << p.Dir
        << "\n";
    return 0;
}

} // namespace

std::string PackUsage() {
    std::ostringstream text;
    text << "usage: mutone-pack COMMAND [OPTIONS] ARGUMENTS\n       mutone-pack --help\n\ncommands:\n";
    size_t width = 0;
    for (const TCommandHelp& command : CommandHelp)
        width = std::max(width, std::string_view(command.Head).size());
    for (const TCommandHelp& command : CommandHelp) {
        const std::string head = command.Head;
        text << "  " << head << std::string(width - head.size() + 2, ' ') << command.Summary << "\n";
    }
    text << "\noptions:\n"
            "  --json             write JSON instead of text\n"
            "  -o, --output OUT   the screensaver to write (replaced only once it is complete)\n"
            "  --arch x86|x64     the screensaver's architecture, over the manifest's arch (default: x86)\n"
            "  --runtime FILE     the screensaver program to pack into (default: mutone.scr beside this tool,\n"
            "                     mutone64.scr for x64)\n"
            "  --set KEY=VALUE    override a manifest value, e.g. --set movie.loop=false\n"
            "  --movie MOVIE      the movie the starter manifest names\n"
            "  --setup EXE        the setup program to write (package)\n"
            "  --msi MSI          the MSI package to write (package)\n"
            "  --makensis FILE    NSIS's makensis (default: the one on the PATH)\n"
            "  --wixl FILE        msitools' wixl (default: the one on the PATH)\n"
            "  --code-page N      the code page of the stored texts (extract --manifest; default 932)\n";
    return text.str();
}

int RunPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        if (args.empty()) throw EUsageError("no command given");
        const auto optionsEnd = std::find(args.begin(), args.end(), "--");
        if (std::any_of(args.begin(), optionsEnd, IsHelp)) {
            out << PackUsage();
            return 0;
        }

        TParsed p;
        p.CodePage = 932;
        CLI::App app("", "mutone-pack");
        app.set_help_flag();
        app.require_subcommand(1, 1);
        const auto flag = [](CLI::App* command, const char* name, bool& value) {
            command->add_flag(name, value)->disable_flag_override();
        };

        CLI::App* info = app.add_subcommand("info");
        flag(info, "--json", p.Json);
        info->add_option("FILE", p.File)->required();
        CLI::App* list = app.add_subcommand("list");
        flag(list, "--json", p.Json);
        list->add_option("FILE", p.File)->required();
        CLI::App* extract = app.add_subcommand("extract");
        extract->add_option("--manifest", p.ManifestDir);
        extract->add_option("--code-page", p.CodePage);
        extract->add_option("FILE", p.File)->required();
        extract->add_option("DIR", p.Dir);
        CLI::App* build = app.add_subcommand("build");
        build->add_option("INPUT", p.Build.Input)->required();
        build->add_option("-o,--output", p.Build.Output)->required();
        build->add_option("--runtime", p.Build.Runtime);
        const CLI::Validator archNames(
            [](const std::string& value) {
                for (const char* name : ArchNames)
                    if (value == name) return std::string();
                return "must be x86 or x64, not \"" + value + "\"";
            },
            "x86|x64");
        build->add_option("--arch", p.Build.Arch)->check(archNames);
        build->add_option("--set", p.Build.Sets)->allow_extra_args(false);
        CLI::App* package = app.add_subcommand("package");
        package->add_option("INPUT", p.Package.Input)->required();
        package->add_option("--setup", p.Package.Setup);
        package->add_option("--msi", p.Package.Msi);
        package->add_option("--runtime", p.Package.Runtime);
        package->add_option("--arch", p.Package.Arch)->check(archNames);
        package->add_option("--makensis", p.Package.Makensis);
        package->add_option("--wixl", p.Package.Wixl);
        package->add_option("--set", p.Package.Sets)->allow_extra_args(false);
        CLI::App* doctor = app.add_subcommand("doctor");
        flag(doctor, "--json", p.Json);
        doctor->add_option("FILE", p.File);
        CLI::App* init = app.add_subcommand("init");
        init->add_option("MANIFEST", p.File);
        init->add_option("--movie", p.Movie);

        std::vector<std::string> reversed(args.rbegin(), args.rend());
        try {
            app.parse(reversed);
        } catch (const CLI::ParseError& e) {
            throw EUsageError(e.what());
        }

        int result = 0;
        if (info->parsed()) result = Info(p, out);
        if (list->parsed()) result = List(p, out);
        if (extract->parsed()) result = Extract(p, out);
        if (build->parsed()) result = RunBuild(p.Build, out, err);
        if (package->parsed()) {
            if (p.Package.Setup.empty() && p.Package.Msi.empty())
                throw EUsageError("package: give --setup EXE, --msi MSI or both");
            result = RunPackage(p.Package, out, err);
        }
        if (doctor->parsed()) {
            std::string report;
            result = RunDoctor(p.File, p.Json, report);
            out << report;
        }
        if (init->parsed()) out << WriteStarterManifest(p.File.empty() ? "screensaver.toml" : p.File, p.Movie);
        out.flush();
        if (!out) {
            err << "mutone-pack: standard output: cannot write\n";
            return 1;
        }
        return result;
    } catch (const EUsageError& e) {
        err << "mutone-pack: " << e.Message() << "\n" << PackUsage();
        return 2;
    } catch (const EPackError& e) {
        err << "mutone-pack: " << e.FileName() << ": " << e.Message() << "\n";
        return 1;
    } catch (const std::bad_alloc&) {
        err << "mutone-pack: out of memory\n";
        return 1;
    } catch (const std::exception& e) {
        err << "mutone-pack: " << e.what() << "\n";
        return 1;
    }
}

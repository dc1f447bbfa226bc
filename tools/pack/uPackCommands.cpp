#include "uPackCommands.h"

#include <algorithm>
#include <map>
#include <new>
#include <ostream>
#include <sstream>

#include "uPackError.h"
#include "uPackView.h"

namespace {

struct TPackOption {
    std::string Name; // with its leading "--"
    bool TakesValue = false;
};

// A command line after the command's name: options by name (a flag maps to ""), the rest in order.
struct TPackArgs {
    std::map<std::string, std::string> Options;
    std::vector<std::string> Positional;
    bool Has(const std::string& option) const { return Options.count(option) != 0; }
};

// One row per command; a new command is a new row and its handler.
struct TPackCommand {
    std::string Name;
    std::string Synopsis; // the arguments after the name, for the usage text
    std::string Summary;
    std::vector<TPackOption> Options;
    size_t MinArgs;
    size_t MaxArgs;
    int (*Run)(const TPackArgs& args, std::ostream& out);
};

int RunInfo(const TPackArgs& args, std::ostream& out) {
    TStoreReport report;
    ReadStoreReport(args.Positional[0], report);
    out << (args.Has("--json") ? InfoJson(report) : InfoText(report));
    return 0;
}

int RunList(const TPackArgs& args, std::ostream& out) {
    TStoreReport report;
    ReadStoreReport(args.Positional[0], report);
    out << (args.Has("--json") ? ListJson(report.Items) : ListText(report.Items));
    return 0;
}

int RunExtract(const TPackArgs& args, std::ostream& out) {
    TStoreReport report;
    // Read everything first, so that a damaged store leaves no half-written directory behind.
    ReadStoreReport(args.Positional[0], report);
    ExtractItems(report.Items, args.Positional[1]);
    out << "extracted " << report.Items.size() << (report.Items.size() == 1 ? " item" : " items") << " to "
        << args.Positional[1] << "\n";
    return 0;
}

const std::vector<TPackCommand>& Commands() {
    static const std::vector<TPackCommand> commands = {
        {"info",
         "[--json] FILE",
         "where FILE's content store sits and how many items it holds",
         {{"--json"}},
         1,
         1,
         RunInfo},
        {"list", "[--json] FILE", "the items of FILE's content store, in store order", {{"--json"}}, 1, 1, RunList},
        {"extract",
         "FILE DIR",
         "write each item to DIR/NNNN.bin and the item list to DIR/items.json",
         {},
         2,
         2,
         RunExtract},
    };
    return commands;
}

bool IsHelp(const std::string& arg) {
    return arg == "--help" || arg == "-h" || arg == "help";
}

TPackArgs ParseArgs(const TPackCommand& command, const std::vector<std::string>& args) {
    TPackArgs parsed;
    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.Positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        auto option = std::find_if(command.Options.begin(), command.Options.end(),
                                   [&](const TPackOption& o) { return o.Name == name; });
        if (option == command.Options.end()) throw EUsageError(command.Name + ": unknown option " + name);
        if (!option->TakesValue) {
            if (equals != std::string::npos) throw EUsageError(command.Name + ": " + name + " takes no value");
            parsed.Options[name] = "";
        } else if (equals != std::string::npos) {
            parsed.Options[name] = arg.substr(equals + 1);
        } else {
            if (i + 1 >= args.size()) throw EUsageError(command.Name + ": " + name + " needs a value");
            parsed.Options[name] = args[++i];
        }
    }
    if (parsed.Positional.size() < command.MinArgs) throw EUsageError(command.Name + ": missing arguments");
    if (parsed.Positional.size() > command.MaxArgs) throw EUsageError(command.Name + ": too many arguments");
    return parsed;
}

} // namespace

std::string PackUsage() {
    std::ostringstream text;
    text << "usage: mutone-pack COMMAND [OPTIONS] ARGUMENTS\n       mutone-pack --help\n\ncommands:\n";
    size_t width = 0;
    for (const TPackCommand& command : Commands())
        width = std::max(width, command.Name.size() + 1 + command.Synopsis.size());
    for (const TPackCommand& command : Commands()) {
        const std::string head = command.Name + " " + command.Synopsis;
        text << "  " << head << std::string(width - head.size() + 2, ' ') << command.Summary << "\n";
    }
    text << "\noptions:\n  --json  write JSON instead of text\n";
    return text.str();
}

int RunPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        if (args.empty()) throw EUsageError("no command given");
        if (IsHelp(args[0])) {
            out << PackUsage();
            return 0;
        }
        auto command = std::find_if(Commands().begin(), Commands().end(),
                                    [&](const TPackCommand& c) { return c.Name == args[0]; });
        if (command == Commands().end()) throw EUsageError("unknown command " + args[0]);
        const auto optionsEnd = std::find(args.begin() + 1, args.end(), "--");
        if (std::find(args.begin() + 1, optionsEnd, "--help") != optionsEnd) {
            out << PackUsage();
            return 0;
        }
        const int result = command->Run(ParseArgs(*command, args), out);
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

#include <windows.h>

#include <shellapi.h>

#include <memory>

#include "forms/FileStream.h"
#include "support/uSysUtils.h"
#include "uBrowser.h"

namespace {
const char StartMenuInternetKey[] = "Software\\Clients\\StartMenuInternet";

// Environment references expanded into the 260 characters the browser command may have; a command that does not
// fit is unusable and counts as none.
std::string ExpandEnvironment(const std::string& text) {
    char buffer[MAX_PATH];
    const DWORD length = ExpandEnvironmentStringsA(text.c_str(), buffer, sizeof buffer);
    if (length == 0 || length > sizeof buffer) return {};
    return Trim(buffer);
}

void Launch(const std::string& commandLine) {
    // WinExec's result is ignored: a browser that cannot start fails silently.
    WinExec(commandLine.c_str(), SW_SHOW);
}

bool ShellSucceeded(INT_PTR result) {
    return result > 32;
}

INT_PTR ShellOpen(const std::string& url) {
    return reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOW));
}
} // namespace

std::string GetDefaultBrowserCommand() {
    std::string name = RegReadDefaultString(HKEY_LOCAL_MACHINE, StartMenuInternetKey);
    if (name.empty()) name = RegReadDefaultString(HKEY_CURRENT_USER, StartMenuInternetKey);
    std::string command;
    // The command is always the machine's, also for a name the user chose.
    if (!name.empty())
        command = RegReadDefaultString(HKEY_LOCAL_MACHINE,
                                       std::string(StartMenuInternetKey) + "\\" + name + "\\shell\\open\\command");
    if (command.empty()) command = GetShellOpenCommand(".htm");
    command = ExpandEnvironment(command);
    if (command.empty()) return {};
    // A quoted program that exists is taken whole: splitting it at blanks would drop a folder whose name holds a
    // "-", "/" or "%" and leave a path that cannot start.
    if (command.front() == '"') {
        const std::string quoted = UnquoteString(command, '"');
        if (quoted != command && FileExists(quoted)) return quoted;
    }
    return BrowserExecutable(command);
}

TBrowser::TBrowser(TComponent* owner) : TComponent(owner), FBrowserCommand(GetDefaultBrowserCommand()) {}

void TBrowser::SetURL(const std::string& value) {
    if (value == FURL) return;
    FURL = NormalizeURL(value);
    if (FAuto) OpenWithShell(true);
}

void TBrowser::Open() {
    if (FURL.empty()) return;
    if (!FBrowserCommand.empty()) {
        Launch(QuoteString(FBrowserCommand, '"') + " " + CommandLineURL(FURL));
        return;
    }
    if (!ShellSucceeded(ShellOpen(FURL))) Launch("explorer " + CommandLineURL(FURL));
}

void TBrowser::OpenWithShell(bool fallback) {
    if (FURL.empty()) return;
    const INT_PTR result = ShellOpen(FURL);
    if (fallback && result != ERROR_FILE_NOT_FOUND && !ShellSucceeded(result)) Open();
}

void OpenURL(const std::string& url) {
    auto free = [](TBrowser* browser) { browser->Free(); };
    std::unique_ptr<TBrowser, decltype(free)> browser(new TBrowser(nullptr), free);
    browser->SetURL(url);
    browser->Open();
}

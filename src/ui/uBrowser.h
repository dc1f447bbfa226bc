// Opening a web link: finding the user's default browser and starting it on a URL, falling back to the shell and
// then to Explorer.
#pragma once

#include <string>
#include <string_view>

#include "forms/Components.h"

// The executable path in a registered browser command: the quoted program when the command begins with a quote,
// else the whole command, split like a comma-separated list (commas and blanks separate, quotes group), without
// the pieces that hold "-", "/" or "%" (switches and placeholders), joined by single spaces. Empty for an empty
// command.
std::string BrowserExecutable(std::string_view command);

// The URL with "http://" in front when it has no scheme; unchanged when it has one, and empty when empty.
// A scheme is two or more letters, digits, "+", "-" or "." that begin with a letter, followed by a colon that
// double quotes do not protect (leading line breaks are skipped), and not followed by a port number: so
// "mailto:x" and "https://x" keep their form while "example.com:8080/" and a drive path such as "C:\x" gain it.
std::string NormalizeURL(std::string_view url);

// The URL as one command-line argument: blanks, control characters and double quotes percent-encoded, so that
// whatever the link holds reaches the browser as a single address and never as extra switches.
std::string CommandLineURL(std::string_view url);

#ifdef _WIN32
// The default browser's executable path, from the registry's client entry for web browsers (machine, then user
// name; the machine's command) or else the program that opens ".htm" files; empty when none is registered.
std::string GetDefaultBrowserCommand();

class TBrowser : public TComponent {
public:
    // Looks up the default browser.
    explicit TBrowser(TComponent* owner);

    // Open the URL with the shell as soon as a new one is assigned.
    bool Auto() const { return FAuto; }
    void SetAuto(bool value) { FAuto = value; }
    const std::string& URL() const { return FURL; }
    // A value other than the current one is stored normalised and, with Auto, opened through the shell.
    void SetURL(const std::string& value);
    // The executable found at construction; empty when there is none.
    const std::string& BrowserCommand() const { return FBrowserCommand; }

    // Starts the browser on URL; without a browser, the shell, then Explorer. Nothing for an empty URL; a start
    // that fails does so silently.
    void Open();
    // Hands URL to the shell; with fallback, a shell failure other than "not found" goes on to Open.
    void OpenWithShell(bool fallback);

private:
    bool FAuto = false;
    std::string FURL;
    std::string FBrowserCommand;
};

// Opens url in the default browser through a TBrowser of its own.
void OpenURL(const std::string& url);
#endif

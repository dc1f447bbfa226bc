#include "CommandLine.h"

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> tokens;
    size_t i = 0;
    const size_t n = commandLine.size();
    for (;;) {
        while (i < n && static_cast<unsigned char>(commandLine[i]) <= ' ')
            ++i;
        if (i >= n) break;
        std::string token;
        bool quoted = false;
        while (i < n && (quoted || static_cast<unsigned char>(commandLine[i]) > ' ')) {
            if (commandLine[i] == '"')
                quoted = !quoted;
            else
                token += commandLine[i];
            ++i;
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

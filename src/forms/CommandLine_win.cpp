#include <windows.h>

#include "CommandLine.h"

int ParamCount() {
    size_t count = SplitCommandLine(GetCommandLineA()).size();
    return count > 0 ? static_cast<int>(count) - 1 : 0;
}

std::string ParamStr(int index) {
    if (index == 0) {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        return path;
    }
    std::vector<std::string> tokens = SplitCommandLine(GetCommandLineA());
    return index > 0 && static_cast<size_t>(index) < tokens.size() ? tokens[static_cast<size_t>(index)] : "";
}

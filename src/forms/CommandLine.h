// The program's arguments, split the way Windows programs of this kind always have: blanks separate them,
// double quotes group blanks into one argument and are themselves dropped, nothing else is special.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// All tokens of a command line, the program name first.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The arguments after the program name (Windows only: from GetCommandLineA).
int ParamCount();
// ParamStr(0) is the executable's full path; an index past the end gives an empty string.
std::string ParamStr(int index);

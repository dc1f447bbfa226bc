// The command line of the authoring tool.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// Runs one command line (without the program name). Returns 0 on success, 1 when a file cannot be read or
// written (reported on err as "mutone-pack: FILE: message"), 2 for a command line it does not understand
// (reported on err with the usage text).
int RunPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

std::string PackUsage();

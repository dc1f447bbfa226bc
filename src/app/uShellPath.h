#pragma once

#include <string>

// The path as the shell's desktop folder resolves it: long names for a path given in 8.3 short names.
// Empty when the shell cannot parse it.
std::string GetShellPath(const std::string& path);

// The file name without folder and extension ("C:\a\Name.scr" gives "Name").
std::string FileNameWithoutExtension(const std::string& path);

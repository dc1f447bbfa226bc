// The file-system operations of the authoring tool that differ between Windows and POSIX, and path texts. Paths
// are byte strings as the system takes them (on Windows in the ANSI code page, as everywhere in this project).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The full path of the running tool's executable; empty when the system does not tell.
std::string ToolExecutablePath();

// True when both names lead to one existing file, however they are spelled (links, letter case, hard links).
bool SameFile(const std::string& a, const std::string& b);

// Moves from onto to, replacing a file there. False when it cannot.
bool RenameOver(const std::string& from, const std::string& to);

// False when the file cannot be removed (or was not there).
bool RemoveFile(const std::string& fileName);

// The size of a regular file; none for anything else or a file that cannot be examined.
std::optional<int64_t> RegularFileSize(const std::string& fileName);

// Creates the directory and any missing parents; true when it exists afterwards.
bool CreateDirectories(const std::string& path);

// '/' everywhere; on Windows also '\' (and a drive's colon ends a prefix).
bool IsPathSeparator(char c);
bool IsAbsolutePath(std::string_view path);
// Everything in front of the last separator (with it, so "C:\" stays a root); empty for a bare name.
std::string DirectoryOf(std::string_view path);
// Everything behind the last separator.
std::string FileNameOf(std::string_view path);
// name inside directory; name itself when it is absolute or directory is empty.
std::string JoinPath(std::string_view directory, std::string_view name);

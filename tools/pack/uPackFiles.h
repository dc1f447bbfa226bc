// The file-system operations of the authoring tool that differ between Windows and POSIX, and path texts. Paths
// are byte strings as the system takes them (on Windows in the ANSI code page, as everywhere in this project).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// Removes an empty folder; false when it cannot.
bool RemoveEmptyFolder(const std::string& path);

// Creates a new folder of that name, failing (false) when anything exists there already.
bool CreateNewFolder(const std::string& path);

// Sets the file's modification time to unixTime, so that a tool that stores file times stores the same one on
// every build. False when it cannot.
bool SetModificationTime(const std::string& fileName, int64_t unixTime);

// The program's full path when name has no folder: the first match on PATH (on Windows also with ".exe"); name
// itself when it has one and the file is there; empty otherwise.
std::string FindProgram(const std::string& name);

// Runs args[0] (a path) with the other arguments passed as they are (no shell), in folder, with its output and
// errors written to logFile and no input. Returns its exit code, or -1 when it could not be started or did not
// end normally.
int RunProgram(const std::vector<std::string>& args, const std::string& folder, const std::string& logFile);

// '/' everywhere; on Windows also '\' (and a drive's colon ends a prefix).
bool IsPathSeparator(char c);
bool IsAbsolutePath(std::string_view path);
// Everything in front of the last separator (with it, so "C:\" stays a root); empty for a bare name.
std::string DirectoryOf(std::string_view path);
// Everything behind the last separator.
std::string FileNameOf(std::string_view path);
// name inside directory; name itself when it is absolute or directory is empty.
std::string JoinPath(std::string_view directory, std::string_view name);

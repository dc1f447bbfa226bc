// Checks on file and folder names that come from content: a name taken from a content store must never let a
// write or a deletion reach outside the folder it is meant for. Purely lexical, and strict: whatever Windows
// might read differently from how it looks (trailing dots or spaces, streams, device names) is refused.
#pragma once

#include <string_view>

// One path component that names an ordinary file or folder: not empty, at most 255 bytes, no separators,
// no drive or stream colon, no wildcard or other reserved character, no control character, not "." or "..",
// no trailing dot or space, and not a device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$,
// CLOCK$, with or without an extension).
bool IsSafeFileName(std::string_view name);

// A relative path of safe components separated by backslashes or slashes: nothing absolute, no drive, no
// UNC prefix, no empty component (so no leading, trailing or doubled separator), no "..".
bool IsSafeRelativeName(std::string_view path);

// True when path lies strictly inside folder: folder is absolute ("X:\..." or "\\server\share..."), path begins
// with folder and a backslash (letters compared without regard to ASCII case), and the rest is a safe relative
// name. The folder itself is not inside itself.
bool PathIsInside(std::string_view folder, std::string_view path);

// True for a path that names a whole drive or share, or nothing at all: "", "C:", "C:\", "\", "\\server",
// "\\server\share\". Deleting such a path would take everything on it.
bool IsRootPath(std::string_view path);

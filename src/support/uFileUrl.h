// The file URL the movie player is handed for a movie on disk. The player's allow list matches URLs, and hosts
// that handed it bare paths found their movies blocked; the URL is therefore made exactly as the shell's
// UrlCreateFromPathW makes it, which is what the player's other hosts hand it.
#pragma once

#include <string>
#include <string_view>

// The file URL of a drive path ("C:\a b\m.swf" gives "file:///C:/a%20b/m.swf") or a UNC path ("\\server\share\m.swf"
// gives "file://server/share/m.swf"): backslashes become slashes, and the characters the shell escapes become %XX
// of their UTF-16 code unit (controls, 0x7F to 0xFF, space, " # % & < > [ ] ^ ` { | }); characters above 0xFF
// stay as they are. Build it from the wide form of a path, never from its ANSI bytes: the shell escapes the
// characters, not their code-page bytes. "." and ".." are kept, as the shell keeps them. An empty path gives an
// empty URL.
std::wstring FileUrlFromPath(std::wstring_view path);

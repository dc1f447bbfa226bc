// The setup program's NSIS script, and the escaping that keeps every text from the manifest a plain text in it.
#pragma once

#include <string>
#include <string_view>

#include "uPackage.h"

// text as an NSIS string in double quotes that reads back as text: '$' doubled, so that no variable, constant or
// language string is expanded, and quotes, tabs and line breaks as NSIS's $\ escapes.
std::string NsisString(std::string_view text);

// The whole script (UTF-8, with a byte order mark, for makensis -INPUTCHARSET UTF8).
std::string NsisScript(const TPackageInfo& info);

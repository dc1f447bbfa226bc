// The screensaver switches, read from the command line's arguments.
#pragma once

#include <cstdint>
#include <string_view>

enum TScreenSaverMode : uint8_t { ssmNone, ssmChangePassword, ssmConfigure, ssmPreview, ssmRun };

// The upper-case switch letter of the first argument: /s, -S, s and Setup all give S, /c:1234 gives C.
// A lone / or - has no letter and gives '\0'.
char SwitchLetter(std::string_view firstArgument);
// The mode a switch letter stands for; S is not a mode (it is relaunched as E) and gives ssmNone.
TScreenSaverMode ModeFromLetter(char letter);
// The preview window's handle from the second argument: a decimal integer, 0 when it is not one.
intptr_t ParseWindowHandle(std::string_view argument);

#include "uSwitches.h"

#include <charconv>

char SwitchLetter(std::string_view firstArgument) {
    char letter = firstArgument.empty() ? '\0' : firstArgument[0];
    if (letter == '-' || letter == '/') letter = firstArgument.size() > 1 ? firstArgument[1] : '\0';
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    return letter;
}

TScreenSaverMode ModeFromLetter(char letter) {
    switch (letter) {
    case 'A':
        return ssmChangePassword;
    case 'C':
        return ssmConfigure;
    case 'P':
        return ssmPreview;
    case 'E':
        return ssmRun;
    default:
        return ssmNone;
    }
}

intptr_t ParseWindowHandle(std::string_view argument) {
    long long value = 0;
    const char* end = argument.data() + argument.size();
    auto [ptr, error] = std::from_chars(argument.data(), end, value);
    if (argument.empty() || error != std::errc() || ptr != end) return 0;
    return static_cast<intptr_t>(value);
}

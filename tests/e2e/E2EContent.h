// What the end-to-end tests put into a screensaver's store: texts as item bytes, and the item names the program
// looks its content up by.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/uContentKeys.h"

namespace e2e {

// A text as an item's bytes, without a terminator.
std::vector<uint8_t> Bytes(const std::string& text);
// The name of a content item; index numbers the items of a role that repeats (the extra files), from 0.
std::string ContentKey(TContentKey role, int index = -1);
// The name of an item of the settings dialog's content.
std::string DialogKey(TDialogKey role);

} // namespace e2e

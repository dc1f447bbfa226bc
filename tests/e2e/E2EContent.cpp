#include "E2EContent.h"

#include "support/uSysUtils.h"

namespace e2e {

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string ContentKey(TContentKey role, int index) {
    for (const TContentKeyInfo& key : ContentKeyTable())
        if (key.Role == role) return DecodeString(key.Enciphered) + (index >= 0 ? std::to_string(index) : "");
    return {};
}

std::string DialogKey(TDialogKey role) {
    for (const TDialogKeyInfo& key : DialogKeyTable())
        if (key.Role == role) return DecodeString(key.Enciphered);
    return {};
}

} // namespace e2e

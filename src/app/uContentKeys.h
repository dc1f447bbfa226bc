// The names under which the content store holds the screensaver's settings, and the two scale texts. The
// program carries only their enciphered digits and decodes each just before it is compared; the authoring tool
// stores items under the decoded texts of the same table, so the two can never disagree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "support/uEncipher.h"

// The content's identifier: a plain name, compared as it is.
inline constexpr std::string_view ContentGuidName = "GUID";

// What an item's value does once its name matched.
enum class TContentKey : uint8_t {
    Loop,
    StretchMovie, // the scale choice
    AllowRightClick,
    Menu,
    Quality,
    FlashVars,
    BackgroundColor,
    MovieFileName,
    Movie,
    ThrottlePreview,
    RequiredFlashVersion,
    ExtraFileCount,
    ExtraFileName, // indexed
    ExtraFileData, // indexed
    EndOnMouse,
    EndOnKey,
    ShowCursor,
    MonitorLayout,
    NoPlayerText,
    NoPlayerLink,
};

// How an item's bytes are read: a flag is the first byte, an integer the first four (little-endian, signed),
// a text all of them, a blob the bytes in place.
enum class TValueKind : uint8_t { Flag, Integer, Text, Blob };

struct TContentKeyInfo {
    TContentKey Role;
    TValueKind Kind;
    bool Indexed; // the name is the key followed by a decimal index
    std::string_view Enciphered;
};

namespace content_keys {
inline constexpr auto Loop = EncipherConstant<"Loop">();
inline constexpr auto StretchMovie = EncipherConstant<"StretchMovie">();
inline constexpr auto AllowRightClick = EncipherConstant<"AllowRightClick">();
inline constexpr auto Menu = EncipherConstant<"Menu">();
inline constexpr auto Quality = EncipherConstant<"Quality">();
inline constexpr auto FlashVars = EncipherConstant<"FlashVars">();
inline constexpr auto BackgroundColor = EncipherConstant<"BackgroundColor">();
inline constexpr auto MovieFileName = EncipherConstant<"MovieFileName">();
inline constexpr auto Movie = EncipherConstant<"Movie">();
inline constexpr auto ThrottlePreview = EncipherConstant<"ThrottlePreview">();
inline constexpr auto RequiredFlashVersion = EncipherConstant<"RequiredFlashVersion">();
inline constexpr auto ExtraFileCount = EncipherConstant<"ExtraFileCount">();
inline constexpr auto ExtraFileName = EncipherConstant<"ExtraFileName">();
inline constexpr auto ExtraFileData = EncipherConstant<"ExtraFileData">();
inline constexpr auto EndOnMouse = EncipherConstant<"EndOnMouse">();
inline constexpr auto EndOnKey = EncipherConstant<"EndOnKey">();
inline constexpr auto ShowCursor = EncipherConstant<"ShowCursor">();
inline constexpr auto MonitorLayout = EncipherConstant<"MonitorLayout">();
// What to tell the user where no usable Flash control is installed, and where to send them.
inline constexpr auto NoPlayerText = EncipherConstant<"NoPlayerText">();
inline constexpr auto NoPlayerLink = EncipherConstant<"NoPlayerLink">();

// The settings dialog's items.
inline constexpr auto DialogCaption = EncipherConstant<"DialogCaption">();
inline constexpr auto CopyrightText = EncipherConstant<"CopyrightText">();
inline constexpr auto CopyrightLink = EncipherConstant<"CopyrightLink">();
inline constexpr auto CloseButton = EncipherConstant<"CloseButton">();
inline constexpr auto DialogPictureName = EncipherConstant<"DialogPictureName">();
inline constexpr auto DialogPicture = EncipherConstant<"DialogPicture">();

// The control's Scale value when the content asks for its movie to be stretched: the whole movie over the
// whole screen, its aspect ratio given up, so no black bars remain and nothing is cut off.
inline constexpr auto ScaleStretched = EncipherConstant<"exactfit">();
// Otherwise the control's own default: the whole movie, its aspect ratio kept.
inline constexpr auto ScaleDefault = EncipherConstant<"showall">();
} // namespace content_keys

// Every key, in the order an item's name is tested against them.
inline constexpr std::array<TContentKeyInfo, 20> ContentKeys = {{
    {TContentKey::Loop, TValueKind::Flag, false, content_keys::Loop},
    {TContentKey::StretchMovie, TValueKind::Flag, false, content_keys::StretchMovie},
    {TContentKey::AllowRightClick, TValueKind::Flag, false, content_keys::AllowRightClick},
    {TContentKey::Menu, TValueKind::Flag, false, content_keys::Menu},
    {TContentKey::Quality, TValueKind::Integer, false, content_keys::Quality},
    {TContentKey::FlashVars, TValueKind::Text, false, content_keys::FlashVars},
    {TContentKey::BackgroundColor, TValueKind::Integer, false, content_keys::BackgroundColor},
    {TContentKey::MovieFileName, TValueKind::Text, false, content_keys::MovieFileName},
    {TContentKey::Movie, TValueKind::Blob, false, content_keys::Movie},
    {TContentKey::ThrottlePreview, TValueKind::Flag, false, content_keys::ThrottlePreview},
    {TContentKey::RequiredFlashVersion, TValueKind::Text, false, content_keys::RequiredFlashVersion},
    {TContentKey::ExtraFileCount, TValueKind::Integer, false, content_keys::ExtraFileCount},
    {TContentKey::ExtraFileName, TValueKind::Text, true, content_keys::ExtraFileName},
    {TContentKey::ExtraFileData, TValueKind::Blob, true, content_keys::ExtraFileData},
    {TContentKey::EndOnMouse, TValueKind::Flag, false, content_keys::EndOnMouse},
    {TContentKey::EndOnKey, TValueKind::Flag, false, content_keys::EndOnKey},
    {TContentKey::ShowCursor, TValueKind::Flag, false, content_keys::ShowCursor},
    {TContentKey::MonitorLayout, TValueKind::Integer, false, content_keys::MonitorLayout},
    {TContentKey::NoPlayerText, TValueKind::Text, false, content_keys::NoPlayerText},
    {TContentKey::NoPlayerLink, TValueKind::Text, false, content_keys::NoPlayerLink},
}};

// The most bytes of the no-player text the screensaver shows: it comes from the store, and is drawn on every
// monitor and in the dialog's one line. The tool refuses a longer one rather than let it be cut.
inline constexpr size_t MaxNoPlayerTextSize = 512;

constexpr std::span<const TContentKeyInfo> ContentKeyTable() {
    return ContentKeys;
}

// The settings dialog's keys, tried after the ones above; the dialog applies them to itself.
enum class TDialogKey : uint8_t { Caption, CopyrightText, CopyrightLink, CloseButton, PictureName, Picture };

struct TDialogKeyInfo {
    TDialogKey Role;
    TValueKind Kind;
    std::string_view Enciphered;
};

inline constexpr std::array<TDialogKeyInfo, 6> DialogKeys = {{
    {TDialogKey::Caption, TValueKind::Text, content_keys::DialogCaption},
    {TDialogKey::CopyrightText, TValueKind::Text, content_keys::CopyrightText},
    {TDialogKey::CopyrightLink, TValueKind::Text, content_keys::CopyrightLink},
    {TDialogKey::CloseButton, TValueKind::Flag, content_keys::CloseButton},
    {TDialogKey::PictureName, TValueKind::Text, content_keys::DialogPictureName},
    {TDialogKey::Picture, TValueKind::Blob, content_keys::DialogPicture},
}};

constexpr std::span<const TDialogKeyInfo> DialogKeyTable() {
    return DialogKeys;
}

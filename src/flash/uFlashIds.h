// The identities of the Shockwave Flash control: its class, its interfaces and its registration key.
#pragma once

// The class identifier as the control registers it, in the letter case its installer writes.
inline constexpr char FlashInprocServerKey[] = "CLSID\\{D27CDB6E-AE6D-11cf-96B8-444553540000}\\InprocServer32";
inline constexpr char FlashClassIdText[] = "{D27CDB6E-AE6D-11CF-96B8-444553540000}";

#ifdef _WIN32
#include <windows.h>

inline constexpr GUID CLASS_ShockwaveFlash = {
    0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID LIBID_ShockwaveFlashObjects = {
    0xD27CDB6B, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID IID_IShockwaveFlash = {
    0xD27CDB6C, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID DIID__IShockwaveFlashEvents = {
    0xD27CDB6D, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// IOleObject's own identifier, kept here so that the availability check needs no import library for it.
inline constexpr GUID IID_FlashOleObject = {
    0x00000112, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
#endif

// System utilities: registry reads, the shell's open command, quoting, temporary and unique file names, dotted
// version numbers, shell deletion and the decoder of the program's enciphered string constants.
// None of them raises for a missing key, value or file: they answer with an empty string, 0 or false.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "forms/Handles.h"
#include "forms/WinTypes.h"

// Delphi's Trim: spaces and control characters (every byte up to ' ') removed at both ends.
std::string Trim(std::string_view text);

// The text without its last character when that is c; otherwise the text unchanged.
std::string RemoveTrailingChar(std::string_view text, char c);

// quote + text with every quote doubled + quote.
std::string QuoteString(std::string_view text, char quote);
// The inverse of QuoteString for a text that begins with quote (an unterminated one runs to the end). A text
// that does not begin with quote, or whose quoted part is empty, comes back unchanged.
std::string UnquoteString(std::string_view text, char quote);

// The program path of a shell open command, in double quotes; empty when the command names none. This is the
// registry-free part of GetShellOpenCommand.
std::string ExtractOpenCommandProgram(std::string_view command);

// The pieces of text between separators. No piece for an empty text or behind a trailing separator.
void SplitToList(std::vector<std::string>& list, std::string_view text, char separator);
// The piece at index as a decimal integer (leading blanks allowed); 0 when it is not one or is out of range.
int32_t ListItemAsInt(const std::vector<std::string>& list, int32_t index);

// 1 when version a is greater, -1 when b is, 0 when equal; fields compared as integers, missing ones as 0.
int32_t CompareVersions(std::string_view a, std::string_view b);
bool VersionAtLeast(std::string_view version, std::string_view required);

// The first two characters read as hexadecimal (0 when they are not), removed from the text.
int32_t TakeHexByte(std::string& text);

// The plain text of an enciphered constant (see uEncipher.h for the layout). Raises EConvertError when the
// 8-digit trailer is not hexadecimal; bad digits elsewhere count as 0.
std::string DecodeString(std::string_view enciphered);

// The candidate UniqueFileName tries for one moment: directory (taken as given), yyyymmdd, separator,
// milliseconds since midnight, extension (a "." put in front when missing).
std::string FormatUniqueFileName(std::string_view directory, std::string_view extension, std::string_view separator,
                                 int year, int month, int day, int32_t msOfDay);

#ifdef _WIN32
// Reads a value (an empty name: the key's default value) into data; size is the buffer size on entry and the
// data size on return. False when the key cannot be opened or the query fails.
bool RegReadValue(HKEY root, const std::string& keyPath, const std::string& valueName, void* data, uint32_t& size);
// A value of at most 255 bytes as text, trimmed; empty when missing or longer.
std::string RegReadString(HKEY root, const std::string& keyPath, const std::string& valueName);
// The default value of the key; one trailing backslash on the path is ignored.
std::string RegReadDefaultString(HKEY root, const std::string& keyPath);

// The program that opens files of the extension ("htm" or ".htm"), in double quotes; empty when none is registered.
std::string GetShellOpenCommand(const std::string& extension);

// The folder part of a path, up to and including its last backslash (empty when it has none), and the rest.
// Double-byte characters of the system code page whose second byte is a backslash are not taken for one.
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileName(const std::string& path);

// The user's temporary directory with a trailing backslash, followed by name. Empty when the system has no
// temporary directory to give, so that nothing is ever placed relative to the current directory or drive root.
std::string TempFilePath(const std::string& name);
// A name in directory that no file or folder has yet (the file is not created): date, separator, milliseconds.
std::string UniqueFileName(const std::string& directory, const std::string& extension, const std::string& separator);
// UniqueFileName in the temporary directory with separator "-"; empty when there is no temporary directory.
std::string UniqueTempFileName(const std::string& extension);

// The product version of the file's fixed version information as "a.b.c.d"; empty when it has none.
std::string GetVersionString(const std::string& fileName);

// A library of the system folder, loaded by full path: never through the search path, where a planted library of
// the same name beside the program would win. Empty when it cannot be loaded.
UniqueHModule LoadSystemLibrary(const char* name);

// Deletes a file or a whole folder tree through the shell, silently and past the recycle bin. False when the
// path does not exist, is a drive or share root, or the shell reports failure. The operation belongs to the
// application's active form, else to the application's window; afterwards the application's pending messages are
// processed (without an application object: the thread's, leaving a quit request in place for the loop).
bool DeleteWithShell(const std::string& path);

// While it lives, the calling thread of a 32-bit process on 64-bit Windows sees the real system folder where the
// system would otherwise redirect it to the 32-bit one (SysWOW64): a program installed into System32 can then start
// and open its own file by the path it was started with. Does nothing where the system does not redirect, or lacks
// the calls (they are looked up at run time, so that the program still starts on systems without them). Keep it
// around single file steps: while it is off, libraries the thread loads come from the 64-bit folder as well.
class TFsRedirectionOff {
public:
    TFsRedirectionOff();
    ~TFsRedirectionOff();
    TFsRedirectionOff(const TFsRedirectionOff&) = delete;
    TFsRedirectionOff& operator=(const TFsRedirectionOff&) = delete;
    // True when this guard turned redirection off (and turns it back on when it goes).
    bool Active() const { return FActive; }

private:
    void* FOldValue = nullptr;
    bool FActive = false;
};

#endif

// The folders a run writes its files into. A run only ever writes inside a folder it made itself, marked by a file
// that it holds open without delete sharing for as long as it runs: the mark tells this program's folders from
// anyone else's, and whether their owner is still alive (a killed run's handles are closed by the system). Later
// runs remove the folders whose owners are gone, and only those.
#pragma once

#include <string>
#include <string_view>

#include "forms/Handles.h"

// The marker's file name; content may not use it for a file of its own.
inline constexpr std::string_view RunFolderMarkerName = "~mutone-run.lock";

// True for the marker's name, in any letter case.
bool IsRunFolderMarkerName(std::string_view name);

#ifdef _WIN32
struct TRunFolder {
    std::string Path; // without a trailing backslash; empty when there is none
    UniqueFileHandle Marker;
    explicit operator bool() const { return !Path.empty(); }
};

// Makes folder this run's: a new folder, or one that an earlier run of this program left behind and whose owner
// is gone (emptied first). Empty when the folder belongs to someone else or to a live run, or cannot be made.
TRunFolder ClaimRunFolder(const std::string& folder);
// A new folder of this run with a fresh name in the temporary directory; empty when none can be made.
TRunFolder NewRunFolder();
// Lets go of the folder's marker and deletes the folder with everything in it.
void RemoveRunFolder(TRunFolder& folder);
// Removes every folder in the temporary directory that carries the marker of a run that is gone.
void RemoveDeadRunFolders();
#endif

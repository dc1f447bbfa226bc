#include <windows.h>

#include "uRunFolder.h"

#include <vector>

#include "forms/FileStream.h"
#include "support/uPathSafety.h"
#include "support/uSysUtils.h"

namespace {

// What a marker says, so that a file of the same name that somebody else put there is not taken for one.
constexpr char MarkerText[] = "This folder belongs to a running screensaver and goes when it ends.\r\n";

std::string MarkerPath(const std::string& folder) {
    return folder + "\\" + std::string(RunFolderMarkerName);
}

// Creates the marker (never over an existing file) and keeps it open: readable by others, never deletable while
// this run lives.
UniqueFileHandle CreateMarker(const std::string& folder) {
    UniqueFileHandle marker(CreateFileA(MarkerPath(folder).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!marker) return {};
    DWORD written = 0;
    if (!WriteFile(marker.get(), MarkerText, sizeof MarkerText - 1, &written, nullptr) ||
        written != sizeof MarkerText - 1)
        return {};
    return marker;
}

// The marker of a folder that carries this program's mark and that no live run holds, open exclusively; empty
// otherwise. While it is open no other run can take the folder over.
UniqueFileHandle OpenDeadMarker(const std::string& folder) {
    // Without delete sharing granted to us, a live owner's open handle makes this fail.
    UniqueFileHandle marker(CreateFileA(MarkerPath(folder).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!marker) return {};
    char text[sizeof MarkerText] = {};
    DWORD read = 0;
    if (!ReadFile(marker.get(), text, sizeof text, &read, nullptr) ||
        std::string_view(text, read) != std::string_view(MarkerText, sizeof MarkerText - 1))
        return {};
    return marker;
}

bool IsInsideTempDirectory(const std::string& folder) {
    const std::string temp = TempFilePath("");
    return !temp.empty() && PathIsInside(temp, folder) && !IsRootPath(folder);
}

// Empties and removes a folder left by a run that is gone; false (and nothing touched) for any other folder.
bool RemoveDeadRunFolder(const std::string& folder) {
    if (!IsInsideTempDirectory(folder)) return false;
    UniqueFileHandle marker = OpenDeadMarker(folder);
    if (!marker) return false;
    WIN32_FIND_DATAA found{};
    if (UniqueFindHandle search(FindFirstFileA((folder + "\\*").c_str(), &found)); search) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == ".." || IsRunFolderMarkerName(name)) continue;
            const std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteWithShell(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search.get(), &found));
    }
    marker.reset();
    DeleteFileA(MarkerPath(folder).c_str());
    RemoveDirectoryA(folder.c_str());
    return !DirectoryExists(folder);
}

TRunFolder MakeRunFolder(const std::string& folder) {
    if (!CreateDirectoryA(folder.c_str(), nullptr)) return {};
    TRunFolder run{folder, CreateMarker(folder)};
    if (!run.Marker) {
        RemoveDirectoryA(folder.c_str());
        return {};
    }
    return run;
}

} // namespace

TRunFolder ClaimRunFolder(const std::string& folder) {
    if (!IsInsideTempDirectory(folder)) return {};
    if (TRunFolder run = MakeRunFolder(folder)) return run;
    // Left by a killed run of this program: emptied and taken over, so that the path stays the same.
    if (!RemoveDeadRunFolder(folder)) return {};
    return MakeRunFolder(folder);
}

TRunFolder NewRunFolder() {
    const std::string temp = TempFilePath("");
    if (temp.empty()) return {};
    for (int attempt = 0; attempt < 8; ++attempt)
        if (TRunFolder run = MakeRunFolder(UniqueFileName(temp, "", "-"))) return run;
    return {};
}

void RemoveRunFolder(TRunFolder& folder) {
    folder.Marker.reset();
    if (!folder.Path.empty() && IsInsideTempDirectory(folder.Path)) {
        DeleteWithShell(folder.Path);
        if (DirectoryExists(folder.Path)) RemoveDirectoryA(folder.Path.c_str());
    }
    folder.Path.clear();
}

void RemoveDeadRunFolders() {
    const std::string temp = TempFilePath("");
    if (temp.empty()) return;
    std::vector<std::string> folders;
    WIN32_FIND_DATAA found{};
    UniqueFindHandle search(FindFirstFileA((temp + "*").c_str(), &found));
    if (!search) return;
    do {
        const std::string name = found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue; // never follow a link out
        folders.push_back(temp + name);
    } while (FindNextFileA(search.get(), &found));
    search.reset();
    for (const std::string& folder : folders)
        RemoveDeadRunFolder(folder);
}

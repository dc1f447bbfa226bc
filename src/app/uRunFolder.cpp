#include "uRunFolder.h"

#include <algorithm>
#include <cctype>

bool IsRunFolderMarkerName(std::string_view name) {
    return name.size() == RunFolderMarkerName.size() &&
           std::equal(name.begin(), name.end(), RunFolderMarkerName.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

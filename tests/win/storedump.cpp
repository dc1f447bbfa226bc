// Test program: prints the content store appended to its own executable, one line per item, so that a test can
// compare what the reader finds in a real Windows executable with what was written.
//
//   items <count>
//   item <index> name="<name>" compressed=<0|1> size=<bytes> crc32=<8 hex digits>
//   error <message>            (exit code 1) when the reader raises
#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>

#include <zlib.h>

#include "store/uExeAdder.h"

namespace {

// Printable ASCII stays as it is; quotes, backslashes and every other byte become \xHH.
std::string EscapeName(const std::string& name) {
    std::string out;
    for (const char byte : name) {
        const auto c = static_cast<unsigned char>(byte);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

} // namespace

int main() {
    // The output is compared byte for byte; text mode would turn every \n into \r\n.
    _setmode(_fileno(stdout), _O_BINARY);
    char path[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        std::printf("error GetModuleFileNameA failed (%lu)\n", GetLastError());
        return 2;
    }
    TItemTypes items;
    try {
        ReadExeItems(path, items);
    } catch (const std::exception& e) {
        std::printf("error %s\n", e.what());
        FreeExeItems(items);
        return 1;
    }
    std::printf("items %u\n", static_cast<unsigned>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        const TItemType& item = items[i];
        const uLong crc = item.Size > 0 ? crc32(0, item.Data, static_cast<uInt>(item.Size)) : 0;
        std::printf("item %u name=\"%s\" compressed=%d size=%ld crc32=%08lx\n", static_cast<unsigned>(i),
                    EscapeName(item.Name).c_str(), item.Compressed ? 1 : 0, static_cast<long>(item.Size),
                    static_cast<unsigned long>(crc));
    }
    FreeExeItems(items);
    return 0;
}

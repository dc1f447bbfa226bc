// player_register <dll path>   registers the stand-in player under the Flash control's class
// player_register /u           removes that registration
#include <cstdio>
#include <cstring>

#include "PlayerRegistration.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: player_register <dll path> | /u\n");
        return 2;
    }
    if (std::strcmp(argv[1], "/u") == 0) return UnregisterStandInPlayer() ? 0 : 1;
    char full[MAX_PATH];
    if (!GetFullPathNameA(argv[1], MAX_PATH, full, nullptr)) return 1;
    return RegisterStandInPlayer(full) ? 0 : 1;
}

/* Reports the system's "screensaver running" flag as its exit code (1 set, 0 clear), or clears it ("clear").
   A process of its own: Wine keeps the flag per process once read, so a long-lived test would only see its
   own first reading. */
#include <windows.h>

#include <string.h>

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "clear") == 0)
        return SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, FALSE, NULL, 0) ? 0 : 2;
    BOOL running = FALSE;
    if (!SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0)) return 2;
    return running ? 1 : 0;
}

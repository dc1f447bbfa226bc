#!/usr/bin/env bash
# Runs one Windows program under Wine in the environment scripts/wine-env.sh has set up; ctest uses it as the
# cross-compiling emulator for test discovery and for every test. The exit status is the program's, cut by
# Wine to its low 8 bits.
#
#   scripts/wine-run.sh PROG [ARGS...]
# MUTONE_MONITORS marks the harness's environment: a WINEPREFIX of the user's own would lack its set-up.
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ] || [ -z "${MUTONE_MONITORS:-}" ]; then
    echo "wine-run: no Windows test environment (WINEPREFIX, DISPLAY or MUTONE_MONITORS unset)." >&2
    echo "wine-run: Windows tests must run under the harness, e.g." >&2
    echo "wine-run:   bash scripts/wine-env.sh ctest --test-dir build/win32 --output-on-failure -j 2" >&2
    exit 125
fi
[ $# -gt 0 ] || { echo "usage: scripts/wine-run.sh PROG [ARGS...]" >&2; exit 2; }
exec wine "$@"

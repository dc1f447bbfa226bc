#!/usr/bin/env bash
# Peak memory of the screensaver's load under Wine by movie size (see bench/README.md):
#   bash bench/load-memory.sh [--runtime SCR] [ROUNDS] [SIZES_MIB...]   default: 3 rounds of 1, 64 and 512 MiB
# (--runtime: another build of the screensaver, a Windows path such as Z:/path/mutone.scr, to compare with)
# Needs the win32 build. The packed screensavers stay in build/bench-load (about 200 MB a build) for later runs; the
# Wine prefix is MUTONE_WINEPREFIX's, as for the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
exe=build/win32/bench/win/bench_load_memory.exe
[ -f "$exe" ] || { echo "load-memory: $exe is missing; build the win32 preset first" >&2; exit 2; }
cache=$(pwd)/build/bench-load
mkdir -p "$cache"
# One monitor: the load does not depend on the layout, and the content plays one movie over the desktop.
runtime=()
if [ "${1:-}" = --runtime ]; then runtime=(--runtime "$2"); shift 2; fi
exec bash scripts/wine-env.sh --monitors 1 wine "$exe" "${runtime[@]}" "Z:$cache" "$@"

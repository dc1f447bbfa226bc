#!/usr/bin/env bash
# Start-up of the screensaver against the floor of two minimal process starts with a full-screen window, under
# Wine on the harness's display (three monitors unless told otherwise); prints each pair and the median ratio.
#
#   bench/startup.sh [--monitors 1|3] [--pairs N] [--trace] [--screensaver WINPATH] [--floor WINPATH]
#
# Builds what it needs in build/win32 and runs in a Wine prefix of its own (build/win32/wineprefix-bench unless
# MUTONE_WINEPREFIX names another), so it can run beside the tests. See bench/README.md.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

monitors=3
args=()
while [ $# -gt 0 ]; do
    case $1 in
    --monitors)
        monitors=$2
        shift 2
        ;;
    *)
        args+=("$1")
        shift
        ;;
    esac
done

cmake --preset win32 >/dev/null
cmake --build --preset win32 -j2 --target startup_bench >/dev/null
export MUTONE_WINEPREFIX=${MUTONE_WINEPREFIX:-$repo/build/win32/wineprefix-bench}
exec bash scripts/wine-env.sh --monitors "$monitors" wine build/win32/bench/startup/startup_bench.exe "${args[@]}"

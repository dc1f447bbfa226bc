#!/usr/bin/env bash
# Runs a Windows test program in the prefix that scripts/wine-env.sh made, after setting the prefix up as asked:
#
#   tests/e2e/in-prefix.sh [--dpi N] [--small-temp SIZE] PROGRAM [ARGS...]
#
# --dpi N           the system scaled to N dots per inch (Wine 8 scales only with DpiScalingVer set), for every
#                   process started from here on
# --small-temp SIZE the prefix's temporary directory on a tmpfs of SIZE (mount's size= syntax) while PROGRAM runs;
#                   needs root. Exits 77, which ctest counts as skipped, when the tmpfs cannot be mounted.
set -uo pipefail

dpi=
small_temp=
while [ $# -gt 0 ]; do
    case $1 in
    --dpi) dpi=$2; shift 2 ;;
    --small-temp) small_temp=$2; shift 2 ;;
    *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "usage: in-prefix.sh [--dpi N] [--small-temp SIZE] PROGRAM [ARGS...]" >&2; exit 2; }
[ -n "${WINEPREFIX:-}" ] || { echo "in-prefix.sh: run me inside scripts/wine-env.sh" >&2; exit 2; }

quiet() { "$@" </dev/null >/dev/null 2>&1; }

if [ -n "$dpi" ]; then
    quiet wine reg add 'HKCU\Control Panel\Desktop' /v DpiScalingVer /t REG_DWORD /d 1 /f &&
        quiet wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f ||
        { echo "in-prefix.sh: cannot set the DPI" >&2; exit 1; }
fi

if [ -n "$small_temp" ]; then
    temp=$(wine cmd.exe /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')
    unix_temp=$(winepath -u "$temp" 2>/dev/null)
    [ -n "$unix_temp" ] && mkdir -p "$unix_temp" || { echo "in-prefix.sh: no temporary directory ($temp)" >&2; exit 1; }
    if ! mount -t tmpfs -o "size=$small_temp" tmpfs "$unix_temp" 2>/dev/null; then
        echo "in-prefix.sh: skipped: cannot mount a tmpfs on $unix_temp (needs root)" >&2
        exit 77
    fi
    # Lazily, should a Wine process still hold a file there as the run ends.
    trap 'umount "$unix_temp" 2>/dev/null || umount -l "$unix_temp"' EXIT
    echo "in-prefix.sh: $temp is a tmpfs of $small_temp" >&2
fi

wine "$@"

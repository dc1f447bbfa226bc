#!/usr/bin/env bash
# Runs a Windows test program in the prefix that scripts/wine-env.sh made, after setting the prefix up as asked:
#
#   tests/e2e/in-prefix.sh [--dpi N] [--small-temp SIZE] PROGRAM [ARGS...]
#
# --dpi N           the system scaled to N dots per inch (Wine 8 scales only with DpiScalingVer set), for every
#                   process started from here on
# --small-temp SIZE the prefix's temporary directory on a tmpfs of SIZE (mount's size= syntax) while PROGRAM runs;
#                   needs root. Exits 77, which ctest counts as skipped, when the tmpfs cannot be mounted.
#                   While PROGRAM runs, another program's sudden use of the disk is at its call: once it has written
#                   a folder name (relative to the temporary directory) into mutone-fill-when, the first file in that
#                   folder to pass 8 MiB makes this script take all but 1 MiB of the room left, as mutone-filler
#                   (fallocate), and write mutone-filled. PROGRAM deletes all three.
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
    (
        while :; do
            if [ -s "$unix_temp/mutone-fill-when" ] && [ ! -e "$unix_temp/mutone-filled" ]; then
                folder=$unix_temp/$(tr -d '\r\n' <"$unix_temp/mutone-fill-when" | tr '\\' /)
                if [ -n "$(find "$folder" -maxdepth 1 -type f -size +8M 2>/dev/null | head -n 1)" ]; then
                    # All but a MiB, at once: the run writes on meanwhile, so a size that no longer fits is
                    # measured again.
                    for _ in $(seq 50); do
                        free=$(($(df --output=avail -B1 "$unix_temp" | tail -n 1) - 1048576))
                        [ "$free" -gt 0 ] && fallocate -l "$free" "$unix_temp/mutone-filler" && break
                    done
                    : >"$unix_temp/mutone-filled"
                fi
            fi
            sleep 0.005
        done
    ) </dev/null >/dev/null 2>&1 &
    filler=$!
    trap 'kill "$filler" 2>/dev/null; wait "$filler" 2>/dev/null; umount "$unix_temp" 2>/dev/null || umount -l "$unix_temp"' EXIT
fi

wine "$@"

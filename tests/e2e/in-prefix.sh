#!/usr/bin/env bash
# Runs a Windows test program in the prefix that scripts/wine-env.sh made, after setting the prefix up as asked:
#
#   tests/e2e/in-prefix.sh [--dpi N] [--small-temp SIZE] [--locale L] [--temp PATH] PROGRAM [ARGS...]
#                          [--and PROGRAM [ARGS...]]...
#
# Each PROGRAM runs in turn; the first to fail ends the run with its status.
#
# --dpi N           the system scaled to N dots per inch (Wine 8 scales only with DpiScalingVer set), for every
#                   process started from here on
# --small-temp SIZE the prefix's temporary directory on a tmpfs of SIZE (mount's size= syntax) while PROGRAM runs;
#                   needs root. Exits 77, which ctest counts as skipped, when the tmpfs cannot be mounted.
#                   While PROGRAM runs, another program's sudden use of the disk is at its call: once it has written
#                   a folder name (relative to the temporary directory) into mutone-fill-when, the first file in that
#                   folder to pass 8 MiB makes this script take all but 1 MiB of the room left, as mutone-filler
#                   (fallocate), and write mutone-filled. PROGRAM deletes all three.
# --locale L        the programs run in the Unix locale L (ja_JP.UTF-8: Windows' Japanese code page, 932), which
#                   must be installed
# --temp PATH       this user's TEMP and TMP are PATH (a folder on C:, made here), set where Windows keeps them
#                   (HKCU\Environment): Wine takes them from there, not from the Unix environment. Checked by asking
#                   a Windows program for %TEMP% in the locale's code page before PROGRAM runs.
set -uo pipefail

dpi=
small_temp=
locale=
temp_path=
while [ $# -gt 0 ]; do
    case $1 in
    --dpi) dpi=$2; shift 2 ;;
    --small-temp) small_temp=$2; shift 2 ;;
    --locale) locale=$2; shift 2 ;;
    --temp) temp_path=$2; shift 2 ;;
    *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "usage: in-prefix.sh [--dpi N] [--small-temp SIZE] [--locale L] [--temp PATH] PROGRAM [ARGS...] [--and PROGRAM [ARGS...]]..." >&2; exit 2; }
[ -n "${WINEPREFIX:-}" ] || { echo "in-prefix.sh: run me inside scripts/wine-env.sh" >&2; exit 2; }

quiet() { "$@" </dev/null >/dev/null 2>&1; }

if [ -n "$dpi" ]; then
    quiet wine reg add 'HKCU\Control Panel\Desktop' /v DpiScalingVer /t REG_DWORD /d 1 /f &&
        quiet wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f ||
        { echo "in-prefix.sh: cannot set the DPI" >&2; exit 1; }
fi

if [ -n "$locale" ]; then
    normal() { tr '[:upper:]' '[:lower:]' | sed 's/utf-8/utf8/'; }
    # Wine names Unix files in the locale's code set: without the compiled locale, Japanese names are not found.
    locale -a 2>/dev/null | normal | grep -qxF "$(normal <<<"$locale")" ||
        { echo "in-prefix.sh: the locale $locale is not installed (scripts/install-deps.sh makes it)" >&2; exit 1; }
fi
# Set for the Windows programs alone: bash itself would warn about a locale that is not installed.
in_locale() { env ${locale:+LC_ALL="$locale"} "$@"; }

if [ -n "$temp_path" ]; then
    case $temp_path in
    [Cc]:\\*) ;;
    *) echo "in-prefix.sh: --temp must name a folder on C:, not $temp_path" >&2; exit 2 ;;
    esac
    relative=${temp_path:3}
    mkdir -p "$WINEPREFIX/drive_c/${relative//\\//}" || exit 1
    reg=$(mktemp) || exit 1
    # UTF-16, so that the names reach the registry whatever the Unix locale.
    {
        printf '\xff\xfe'
        printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' '[HKEY_CURRENT_USER\Environment]' \
            "\"TEMP\"=\"${temp_path//\\/\\\\}\"" "\"TMP\"=\"${temp_path//\\/\\\\}\"" | iconv -f UTF-8 -t UTF-16LE
    } >"$reg" && quiet wine reg import "Z:${reg//\//\\}"
    imported=$?
    rm -f "$reg"
    [ "$imported" = 0 ] || { echo "in-prefix.sh: cannot set TEMP" >&2; exit 1; }
    code_page=$(in_locale wine cmd.exe /c 'echo %TEMP%' </dev/null 2>/dev/null | tr -d '\r')
    case $locale in ja_JP*) seen=$(iconv -f CP932 -t UTF-8 <<<"$code_page") ;; *) seen=$code_page ;; esac
    [ "$seen" = "$temp_path" ] ||
        { echo "in-prefix.sh: a Windows program sees TEMP as '$seen', not '$temp_path'" >&2; exit 1; }
    echo "in-prefix.sh: TEMP is $temp_path${locale:+ in $locale}" >&2
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

# Each program with its own arguments, in turn: "--and" ends one.
status=0
while [ $# -gt 0 ]; do
    program=()
    while [ $# -gt 0 ] && [ "$1" != --and ]; do program+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    in_locale wine "${program[@]}" || { status=$?; break; }
done
exit "$status"

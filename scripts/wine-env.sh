#!/usr/bin/env bash
# Runs one command inside a ready Windows environment and returns its exit status:
#
#   scripts/wine-env.sh [--monitors 1|3] [--arch win32|win64] CMD [ARGS...]
#
# It starts an X server of its own on a free display (3 monitors: Xorg with the dummy driver, laid out with
# xrandr; 1 monitor: Xvfb 1024x768x24), creates a fresh Wine prefix (MUTONE_WINEPREFIX, default
# build/win32/wineprefix; 32-bit unless --arch win64 asks for a 64-bit one, which runs the 32-bit programs under
# WOW64 with its system32/syswow64 redirection, as 64-bit Windows does), starts a persistent wineserver and Wine's helper processes, and then runs CMD with
# WINEPREFIX, WINEARCH, WINEDEBUG, WINEDLLOVERRIDES, DISPLAY and MUTONE_MONITORS exported. On every way out it
# ends this prefix's wineserver (and with it every Windows process of the run) and its own X server.
#
# Layout with 3 monitors, in Windows coordinates (left, top, right, bottom):
#   primary (0,0,800,600)   left of it (-1024,0,0,768)   right of it (800,0,2080,1024)
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

usage() {
    echo "usage: scripts/wine-env.sh [--monitors 1|3] [--arch win32|win64] CMD [ARGS...]" >&2
    echo "  MUTONE_WINEPREFIX   prefix to (re)create, default $repo/build/win32/wineprefix" >&2
}

log() { echo "wine-env: $*" >&2; }

monitors=3
arch=win32
while [ $# -gt 0 ]; do
    case $1 in
    --arch)
        [ $# -ge 2 ] || { usage; exit 2; }
        arch=$2
        shift 2
        ;;
    --arch=*)
        arch=${1#*=}
        shift
        ;;
    --monitors)
        [ $# -ge 2 ] || { usage; exit 2; }
        monitors=$2
        shift 2
        ;;
    --monitors=*)
        monitors=${1#*=}
        shift
        ;;
    -h | --help)
        usage
        exit 0
        ;;
    --)
        shift
        break
        ;;
    -*)
        log "unknown option $1"
        usage
        exit 2
        ;;
    *) break ;;
    esac
done
case $monitors in
1 | 3) ;;
*)
    log "--monitors must be 1 or 3, not '$monitors'"
    exit 2
    ;;
esac
case $arch in
win32 | win64) ;;
*)
    log "--arch must be win32 or win64, not '$arch'"
    exit 2
    ;;
esac
[ $# -gt 0 ] || { usage; exit 2; }

for tool in wine wineboot wineserver xsetroot flock timeout setsid; do
    command -v "$tool" >/dev/null || { log "$tool is missing; run scripts/install-deps.sh"; exit 2; }
done
if [ "$monitors" = 3 ]; then
    for tool in Xorg xrandr; do
        command -v "$tool" >/dev/null || { log "$tool is missing; run scripts/install-deps.sh"; exit 2; }
    done
else
    command -v Xvfb >/dev/null || { log "Xvfb is missing; run scripts/install-deps.sh"; exit 2; }
fi

prefix=$(realpath -m "${MUTONE_WINEPREFIX:-$repo/build/win32/wineprefix}")
# The prefix is deleted on every run: refuse anything that is neither absent, empty, nor a Wine prefix.
if [ -e "$prefix" ]; then
    if [ "$prefix" = / ] || [ "$prefix" = "${HOME:-/}" ] || [ ! -d "$prefix" ] ||
        { [ -n "$(ls -A "$prefix")" ] && [ ! -e "$prefix/dosdevices" ] && [ ! -e "$prefix/drive_c" ]; }; then
        log "refusing to delete $prefix: it does not look like a Wine prefix"
        exit 2
    fi
fi
mkdir -p "$(dirname "$prefix")" || exit 2

# One run per prefix at a time: a second run would delete the prefix under the first one's feet. The lock's
# descriptor is closed for every process started below, so a survivor of a killed run cannot hold it.
exec {lockfd}>"$prefix.lock" || exit 2
if ! flock -n "$lockfd"; then
    log "waiting for another run that uses $prefix"
    flock "$lockfd"
fi

run_dir=$(mktemp -d "${TMPDIR:-/tmp}/mutone-wine-env.XXXXXX") || exit 2
xpid=
cmdpid=
cmdgroup=
wine_started=

export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" MUTONE_MONITORS=$monitors
unset WINESERVER WINELOADER

# Waits for our own child, killing it after a grace period; never looks processes up by name. An ended child
# stays a zombie until waited for, so its state, not its existence, tells whether it has ended.
wait_or_kill() {
    local pid=$1 grace=$2 i state
    for ((i = 0; i < grace * 20; i++)); do
        state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$pid/status" 2>/dev/null)
        [ -z "$state" ] || [ "$state" = Z ] && break
        sleep 0.05
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

cleanup() {
    trap '' INT TERM HUP
    if [ -n "$cmdpid" ]; then
        kill -TERM -- "-$cmdpid" 2>/dev/null
        wait_or_kill "$cmdpid" 10
    fi
    if [ -n "$cmdgroup" ]; then
        # Whatever CMD left running in its process group would outlive the display and prefix it uses.
        kill -KILL -- "-$cmdgroup" 2>/dev/null
    fi
    if [ -n "$wine_started" ]; then
        # With WINEPREFIX set this reaches only the server of this prefix, and the server ends its processes.
        wineserver -k </dev/null >/dev/null 2>&1 {lockfd}>&-
        timeout 15 wineserver -w </dev/null >/dev/null 2>&1 {lockfd}>&-
    fi
    if [ -n "$xpid" ]; then
        kill -TERM "$xpid" 2>/dev/null
        wait_or_kill "$xpid" 5
    fi
    rm -rf "$run_dir"
}

on_signal() {
    local status=$1
    log "interrupted, tearing down"
    cleanup
    trap - EXIT
    exit "$status"
}
trap cleanup EXIT
trap 'on_signal 130' INT
trap 'on_signal 143' TERM
trap 'on_signal 129' HUP

now_ms() { date +%s%3N; }
started_ms=$(now_ms)

fail_setup() {
    log "$1"
    for f in "$run_dir"/x.log "$run_dir"/x.out; do
        [ -s "$f" ] && tail -n 20 "$f" >&2
    done
    exit 1
}

# The server itself picks a free display number and writes it to -displayfd once it accepts connections, so
# parallel runs never race for a number.
start_display() {
    : >"$run_dir/display"
    if [ "$monitors" = 3 ]; then
        Xorg -displayfd 9 -config "$repo/scripts/xorg-dummy.conf" -logfile "$run_dir/x.log" -noreset -nolisten tcp \
            -novtswitch -sharevts 9>"$run_dir/display" </dev/null >"$run_dir/x.out" 2>&1 {lockfd}>&- &
    else
        Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp -noreset \
            9>"$run_dir/display" </dev/null >"$run_dir/x.out" 2>&1 {lockfd}>&- &
    fi
    xpid=$!
    local i number=
    for ((i = 0; i < 200; i++)); do
        read -r number <"$run_dir/display" 2>/dev/null
        [ -n "$number" ] && break
        kill -0 "$xpid" 2>/dev/null || break
        sleep 0.05
    done
    [ -n "$number" ] || fail_setup "the X server did not start"
    export DISPLAY=:$number
}

# Left monitor, primary, right monitor; the primary's top-left corner becomes Windows (0,0).
layout_monitors() {
    xrandr --output DUMMY0 --mode 1024x768 --pos 0x0 &&
        xrandr --addmode DUMMY1 800x600 &&
        xrandr --output DUMMY1 --mode 800x600 --pos 1024x0 --primary &&
        xrandr --addmode DUMMY2 1280x1024 &&
        xrandr --output DUMMY2 --mode 1280x1024 --pos 1824x0 || return 1
    # The dummy driver reports an output as connected only after a full probe (a plain query) following its
    # mode set; Wine reads the outputs without probing and ignores disconnected ones.
    local probed
    probed=$(xrandr --query) || return 1
    grep -q '^DUMMY0 connected 1024x768+0+0' <<<"$probed" &&
        grep -q '^DUMMY1 connected primary 800x600+1024+0' <<<"$probed" &&
        grep -q '^DUMMY2 connected 1280x1024+1824+0' <<<"$probed" || {
        echo "unexpected layout:"
        grep '^DUMMY[0-2] ' <<<"$probed"
        return 1
    }
}

start_display
if [ "$monitors" = 3 ]; then
    layout_monitors >"$run_dir/xrandr.out" 2>&1 || fail_setup "xrandr could not lay out the monitors: $(cat "$run_dir/xrandr.out")"
fi
# The root is black otherwise, and "covered by a black window" could not be told from "not covered".
xsetroot -solid '#3366cc' || fail_setup "xsetroot failed on $DISPLAY"

wineserver -k </dev/null >/dev/null 2>&1 {lockfd}>&- # a server left behind by a killed run of this prefix
timeout 15 wineserver -w </dev/null >/dev/null 2>&1 {lockfd}>&-
rm -rf "$prefix" && mkdir "$prefix" || fail_setup "cannot recreate $prefix"

# Everything Wine starts from here on (the server, services, the desktop process) gets /dev/null as its output,
# before CMD runs: a helper holding CMD's output pipe would make CMD's reader wait for it.
wine_started=1
wineserver -p </dev/null >/dev/null 2>&1 {lockfd}>&- || fail_setup "wineserver -p failed"
wineboot -i </dev/null >"$run_dir/wineboot.out" 2>&1 {lockfd}>&- || fail_setup "wineboot -i failed: $(tail -n 5 "$run_dir/wineboot.out")"
# A crashing program would otherwise wait forever on the crash dialog.
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1 {lockfd}>&- ||
    fail_setup "cannot set ShowCrashDialog"
# The Japanese faces the program asks for by name are not installed here: Wine shows Debian's IPA Gothic fonts in
# their place (fonts-ipafont-gothic), so that screenshots show Japanese captions instead of boxes. A UTF-16 file,
# because the command line would pass the names through the Unix locale.
# There is no window manager to draw title bars either: Wine draws them itself, so that a captioned window's
# close box is on the screen and can be clicked.
{
    printf '\xff\xfe'
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
        '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' '"ＭＳ Ｐゴシック"="IPAPGothic"' '"ＭＳ ゴシック"="IPAGothic"' '' \
        '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' '"Decorated"="N"' |
        iconv -f UTF-8 -t UTF-16LE
} >"$run_dir/settings.reg" && wine reg import "Z:${run_dir//\//\\}\\settings.reg" </dev/null >/dev/null 2>&1 {lockfd}>&- ||
    fail_setup "cannot import the prefix settings"
wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 {lockfd}>&- || fail_setup "the warm-up program failed"

tenths=$((($(now_ms) - started_ms + 50) / 100))
log "ready in $((tenths / 10)).$((tenths % 10)) s: DISPLAY=$DISPLAY (X server PID $xpid), $monitors monitor(s)," \
    "WINEPREFIX=$prefix ($arch)"

# In the background so that a signal reaches the trap at once instead of after CMD ends; stdin is handed on
# explicitly because a background command would otherwise read /dev/null. In a session of its own, CMD and
# everything it starts can be ended together by its process group id, which is CMD's own PID.
exec {stdinfd}<&0
setsid "$@" <&"$stdinfd" {stdinfd}<&- {lockfd}>&- &
cmdpid=$!
cmdgroup=$cmdpid
exec {stdinfd}<&-
wait "$cmdpid"
status=$?
cmdpid=
exit "$status"

#!/usr/bin/env bash
# Installs, upgrades and uninstalls the setup program and the MSI package that mutone-pack makes, inside the
# Windows environment of scripts/wine-env.sh (a fresh prefix of the test's own), and checks what Windows would
# see: the file in its system folder, the current screensaver, the Add/Remove entry in its registry view, and
# that the installed screensaver plays when started by that path. Every architecture of screensaver the prefix
# can run is tested: x86 in a 32-bit prefix, x86 and x64 in a 64-bit one.
#
#   install-test.sh TOOL MKSWF RUNTIME32 RUNTIME64 PLAYER32DIR PLAYER64DIR WORKDIR
set -uo pipefail
[ $# -eq 7 ] || { echo "usage: install-test.sh TOOL MKSWF RUNTIME32 RUNTIME64 PLAYER32DIR PLAYER64DIR WORKDIR" >&2; exit 2; }
tool=$1 mkswf=$2 runtime32=$3 runtime64=$4 player32=$5 player64=$6 work=$7
: "${WINEPREFIX:?run me under scripts/wine-env.sh}"
for f in "$tool" "$mkswf" "$runtime32" "$player32/player_register.exe"; do
    [ -e "$f" ] || { echo "missing $f (build the native and win32 presets)" >&2; exit 2; }
done
if [ "$WINEARCH" = win64 ]; then
    for f in "$runtime64" "$player64/player_register.exe"; do
        [ -e "$f" ] || { echo "missing $f (build the win64 preset)" >&2; exit 2; }
    done
fi
rm -rf "$work" && mkdir -p "$work" || exit 2
failures=0
ok() { echo "ok: $*"; }
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then ok "$what"; else fail "$what"; fi; }

# The 64-bit view explicitly: "wine reg" may be the 32-bit reg.exe, which WOW64 would redirect.
view_flag=()
[ "$WINEARCH" = win64 ] && view_flag=(/reg:64)
# A value's data as reg.exe prints it, or status 1 when the value (or its key) is not there.
reg_value() {
    wine reg query "$1" /v "$2" "${view_flag[@]}" </dev/null >"$work/reg.out" 2>/dev/null || return 1
    tr -d '\r' <"$work/reg.out" | awk -v name="$2" '
        { i = index($0, "    " name "    REG_") }
        i == 1 { rest = substr($0, length(name) + 9); sub(/^[A-Z_]+    /, "", rest); print rest; found = 1 }
        END { exit !found }'
}
has_key() { wine reg query "$1" "${view_flag[@]}" </dev/null >/dev/null 2>&1; }
same_path() { [ "${1,,}" = "${2,,}" ]; }
desktop='HKCU\Control Panel\Desktop'
set_screensaver() { wine reg add "$desktop" /v SCRNSAVE.EXE /d "$1" /f </dev/null >/dev/null 2>&1; }
clear_screensaver() { wine reg delete "$desktop" /v SCRNSAVE.EXE /f </dev/null >/dev/null 2>&1; true; }
# The subkeys of an Uninstall key whose DisplayName is name: there must be exactly one.
entries_named() {
    wine reg query "$1" /s "${view_flag[@]}" </dev/null 2>/dev/null | tr -d '\r' |
        awk -v name="$2" '/^HKEY/ { key = $0 } $0 == "    DisplayName    REG_SZ    " name { print key }'
}
# Waits for a condition, up to 60 s: an NSIS uninstaller runs from a copy of itself and returns at once.
wait_until() {
    local i
    for ((i = 0; i < 300; i++)); do "$@" && return 0; sleep 0.2; done
    return 1
}
not() { ! "$@"; }

wine "$player32/player_register.exe" "Z:$player32/mutone_player10.dll" </dev/null >/dev/null 2>&1 ||
    fail "registering the 32-bit stand-in player"
if [ "$WINEARCH" = win64 ]; then
    wine "$player64/player_register.exe" "Z:$player64/mutone_player10.dll" </dev/null >/dev/null 2>&1 ||
        fail "registering the 64-bit stand-in player"
    archs="x86 x64"
else
    archs=x86
fi

# Plays the screensaver by the path Windows would start: the stand-in player must be handed the movie.
plays() {
    local record=$work/record.txt
    rm -f "$record"
    # Debian's wine starts the 32-bit loader, whose look-up of a path in System32 is redirected to SysWOW64:
    # a 64-bit screensaver there is started as Windows would, by the 64-bit loader.
    local loader=wine
    [ "$arch" = x64 ] && loader=/usr/lib/wine/wine64
    MUTONE_PLAYER_RECORD=$record "$loader" "$1" /s </dev/null >"$work/saver.log" 2>&1 &
    local saver=$! i
    for ((i = 0; i < 150; i++)); do grep -q " put 102 " "$record" 2>/dev/null && break; sleep 0.2; done
    xdotool mousemove 100 100 sleep 0.3 mousemove 400 300 click 1 >/dev/null 2>&1
    for ((i = 0; i < 100; i++)); do kill -0 "$saver" 2>/dev/null || break; sleep 0.1; done
    kill "$saver" 2>/dev/null
    wait "$saver" 2>/dev/null
    grep -q " put 102 " "$record" 2>/dev/null
}

"$mkswf" "$work/movie.swf" 320 240 33cc66 >/dev/null || exit 2
foreign='C:\windows\system32\foreign.scr'
uninstall_root='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

for arch in $archs; do
    echo "== $arch screensaver in a $WINEARCH prefix"
    dir=$work/$arch
    mkdir -p "$dir"
    if [ "$arch" = x64 ]; then runtime=$runtime64; else runtime=$runtime32; fi
    # Where the file must go and the view its entry goes into.
    if [ "$WINEARCH" = win32 ]; then
        folder='C:\windows\system32' unix_folder=$WINEPREFIX/drive_c/windows/system32 view=$uninstall_root other=
    elif [ "$arch" = x86 ]; then
        folder='C:\windows\syswow64' unix_folder=$WINEPREFIX/drive_c/windows/syswow64
        view='HKLM\Software\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall' other=$uninstall_root
    else
        folder='C:\windows\system32' unix_folder=$WINEPREFIX/drive_c/windows/system32 view=$uninstall_root
        other='HKLM\Software\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall'
    fi
    # Names that would run or change something in an NSIS script or a WiX document were they not escaped.
    setup_name='My $WINDIR "x"' msi_name='a]]><x/> $(var.x)'
    cat >"$dir/screensaver.toml" <<TOML
id = "{5B0E7C2A-91D4-4F3B-8E6A-2C7D1F0A9B$( [ "$arch" = x64 ] && echo 64 || echo 32 )}"
arch = "$arch"
[movie]
file = "../movie.swf"
TOML
    for v in 1.0 1.1; do
        for name in setup msi; do
            n=$setup_name; [ $name = msi ] && n=$msi_name
            out=$("$tool" package "$dir/screensaver.toml" --runtime "$runtime" --set "product.name=$n" \
                --set "product.version=$v" --set "product.company=Me & Co" --$name "$dir/$name-$v.${name/setup/exe}" 2>&1) ||
                { fail "packaging $name $v: $out"; continue; }
            # The screensaver each package should install: the name is part of its resources.
            "$tool" build "$dir/screensaver.toml" --runtime "$runtime" --set "product.name=$n" \
                --set "product.version=$v" --set "product.company=Me & Co" -o "$dir/saver-$name-$v.scr" >/dev/null
            if [ $name = msi ]; then
                printf -v "code_${v/./_}" '%s' "$(sed -n 's/.*product code \({[^}]*}\).*/\1/p' <<<"$out")"
                upgrade=$(sed -n 's/.*upgrade code \({[^}]*}\).*/\1/p' <<<"$out")
            fi
        done
    done
    "$tool" package "$dir/screensaver.toml" --runtime "$runtime" --set "product.name=$setup_name" \
        --set "product.version=1.0" --set "product.company=Me & Co" --setup "$dir/again.exe" --msi "$dir/again.msi" \
        >/dev/null 2>&1
    check "$arch: the setup program is byte-identical when built again" cmp -s "$dir/setup-1.0.exe" "$dir/again.exe"
    "$tool" package "$dir/screensaver.toml" --runtime "$runtime" --set "product.name=$msi_name" \
        --set "product.version=1.0" --set "product.company=Me & Co" --msi "$dir/again.msi" >/dev/null 2>&1
    check "$arch: the MSI package is byte-identical when built again" cmp -s "$dir/msi-1.0.msi" "$dir/again.msi"

    # --- the setup program
    file_name='My $WINDIR _x_.scr'
    path="$folder\\$file_name"
    key="$view\\$upgrade"
    set_screensaver "$foreign"
    if wine "$dir/setup-1.0.exe" /S </dev/null >"$dir/setup.log" 2>&1; then ok "$arch: setup /S"; else fail "$arch: setup /S exit $?"; fi
    check "$arch: setup put the file into $folder" cmp -s "$unix_folder/$file_name" "$dir/saver-setup-1.0.scr"
    check "$arch: setup made it the current screensaver" same_path "$(reg_value "$desktop" SCRNSAVE.EXE)" "$path"
    check "$arch: setup's entry shows the name as written" [ "$(reg_value "$key" DisplayName)" = "$setup_name" ]
    check "$arch: setup's entry shows version and publisher" [ "$(reg_value "$key" DisplayVersion)/$(reg_value "$key" Publisher)" = "1.0.0.0/Me & Co" ]
    check "$arch: setup's entry's icon is the installed file" same_path "$(reg_value "$key" DisplayIcon)" "$path"
    [ -n "$other" ] && check "$arch: no setup entry in the other registry view" not has_key "$other\\$upgrade"
    check "$arch: nothing named \$WINDIR was expanded" not test -e "$unix_folder/My C:"
    if wine "$dir/setup-1.1.exe" /S </dev/null >"$dir/setup.log" 2>&1; then ok "$arch: upgrade /S"; else fail "$arch: upgrade /S"; fi
    check "$arch: the upgrade replaced the file" cmp -s "$unix_folder/$file_name" "$dir/saver-setup-1.1.scr"
    check "$arch: one entry after the upgrade, of 1.1" [ "$(entries_named "$view" "$setup_name" | wc -l)/$(reg_value "$key" DisplayVersion)" = "1/1.1.0.0" ]
    check "$arch: the installed screensaver plays from there" plays "$(reg_value "$desktop" SCRNSAVE.EXE)"
    quiet=$(reg_value "$key" QuietUninstallString)
    uninstaller=$(sed 's/^"\([^"]*\)".*/\1/' <<<"$quiet")
    wine "$uninstaller" /S </dev/null >"$dir/uninstall.log" 2>&1
    check "$arch: uninstall removed the entry" wait_until not has_key "$key"
    check "$arch: uninstall removed the file and the uninstaller" wait_until not test -e "$unix_folder/$file_name"
    check "$arch: uninstall gave back the screensaver chosen before" [ "$(reg_value "$desktop" SCRNSAVE.EXE)" = "$foreign" ]
    check "$arch: uninstall removed its folder" wait_until not test -e "$WINEPREFIX/drive_c/Program Files/My \$WINDIR _x_/Uninstall.exe"
    # Another screensaver chosen after installing stays chosen.
    wine "$dir/setup-1.1.exe" /S </dev/null >"$dir/setup.log" 2>&1
    set_screensaver 'C:\windows\system32\chosen-later.scr'
    wine "$uninstaller" /S </dev/null >"$dir/uninstall.log" 2>&1
    wait_until not has_key "$key"
    check "$arch: uninstall leaves a screensaver that is not ours alone" [ "$(reg_value "$desktop" SCRNSAVE.EXE)" = 'C:\windows\system32\chosen-later.scr' ]
    wine "$dir/setup-1.1.exe" /S /NOACTIVATE </dev/null >"$dir/setup.log" 2>&1
    check "$arch: /NOACTIVATE installs without choosing it" [ "$(reg_value "$desktop" SCRNSAVE.EXE)" = 'C:\windows\system32\chosen-later.scr' ]
    wine "$uninstaller" /S </dev/null >"$dir/uninstall.log" 2>&1
    wait_until not has_key "$key"

    # --- the MSI package
    file_name='a]]__x__ $(var.x).scr'
    path="$folder\\$file_name"
    set_screensaver "$foreign"
    # Without the feature that chooses the screensaver, as IT departments that set it by policy install it.
    wine msiexec /i "$dir/msi-1.0.msi" /qn ADDLOCAL=ScreenSaver </dev/null >"$dir/msi.log" 2>&1
    check "$arch: msiexec /qn put the file into $folder" cmp -s "$unix_folder/$file_name" "$dir/saver-msi-1.0.scr"
    check "$arch: without the feature the current screensaver stays" [ "$(reg_value "$desktop" SCRNSAVE.EXE)" = "$foreign" ]
    check "$arch: the MSI entry shows the name as written" [ "$(reg_value "$view\\$code_1_0" DisplayName)" = "$msi_name" ]
    check "$arch: the MSI entry shows the version" [ "$(reg_value "$view\\$code_1_0" DisplayVersion)" = "1.0.0.0" ]
    [ -n "$other" ] && check "$arch: no MSI entry in the other registry view" not has_key "$other\\$code_1_0"
    wine msiexec /x "$dir/msi-1.0.msi" /qn </dev/null >"$dir/msi.log" 2>&1
    check "$arch: msiexec /x removed the file" not test -e "$unix_folder/$file_name"
    check "$arch: msiexec /x removed the entry" not has_key "$view\\$code_1_0"
    check "$arch: msiexec /x leaves a screensaver that is not ours alone" [ "$(reg_value "$desktop" SCRNSAVE.EXE)" = "$foreign" ]
    clear_screensaver
    wine msiexec /i "$dir/msi-1.0.msi" /qn </dev/null >"$dir/msi.log" 2>&1
    check "$arch: with the feature it is the current screensaver" same_path "$(reg_value "$desktop" SCRNSAVE.EXE)" "$path"
    wine msiexec /i "$dir/msi-1.1.msi" /qn </dev/null >"$dir/msi.log" 2>&1
    check "$arch: the MSI upgrade replaced the file" cmp -s "$unix_folder/$file_name" "$dir/saver-msi-1.1.scr"
    check "$arch: one MSI entry after the upgrade, of 1.1" [ "$(entries_named "$view" "$msi_name" | wc -l)/$(reg_value "$view\\$code_1_1" DisplayVersion)" = "1/1.1.0.0" ]
    check "$arch: the MSI-installed screensaver plays" plays "$(reg_value "$desktop" SCRNSAVE.EXE)"
    wine msiexec /x "$dir/msi-1.1.msi" /qn </dev/null >"$dir/msi.log" 2>&1
    check "$arch: after /x nothing of ours is left" not test -e "$unix_folder/$file_name"
    check "$arch: after /x no entry is left" [ "$(entries_named "$view" "$msi_name" | wc -l)" = 0 ]
    check "$arch: after /x no current screensaver is left" not reg_value "$desktop" SCRNSAVE.EXE
done

[ "$failures" -eq 0 ] && echo "all package checks passed" || echo "$failures package check(s) failed" >&2
[ "$failures" -eq 0 ]

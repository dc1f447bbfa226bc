#!/usr/bin/env bash
# Builds the sample screensaver with mutone-pack from the manifest in samples/demo and plays it under Wine: full
# screen on three monitors (with a screenshot), then in a preview window. The Flash control cannot be installed
# here; the stand-in player of the tests takes its place and records what the screensaver handed it.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/demo}")
mkdir -p "$out"

# The sample's manifest is kept in the repository; its movie and picture are generated beside it.
build/native/tests/fixtures/mkswf samples/demo/movie.swf 550 400 3366cc
build/native/tests/fixtures/mkbmp samples/demo/picture.bmp 120 90 ff8800
build/native/tests/fixtures/mkico samples/demo/icon.ico 3366cc
echo "-- packing the sample, as you would pack your own movie:"
pack=(build/native/tools/pack/mutone-pack build samples/demo/screensaver.toml -o "$out/Sample.scr")
echo "   ${pack[*]}"
"${pack[@]}"
echo "-- the packed screensaver"
build/native/tools/pack/mutone-pack info "$out/Sample.scr"
build/native/tools/pack/mutone-pack list "$out/Sample.scr"
echo "-- the same for 64-bit Windows, from the 64-bit runtime:"
pack64=(build/native/tools/pack/mutone-pack build samples/demo/screensaver.toml -o "$out/Sample64.scr" --arch x64)
echo "   ${pack64[*]}"
"${pack64[@]}"
build/native/tools/pack/mutone-pack info "$out/Sample64.scr" | grep -E '^(arch|image end):'

cat > "$out/play.sh" <<SH
set -u
record="$out/player-record.txt"
rm -f "\$record"
export MUTONE_PLAYER_RECORD="\$record"
echo "-- what Windows reads from its resources (name, version, icon sizes)"
wine build/win32/tests/e2e/resource_probe.exe "$out/Sample.scr" | tr -d '\r' | sed 's/^/   /'
wine build/win32/tests/player/player_register.exe "Z:$PWD/build/win32/tests/player/mutone_player10.dll" >/dev/null
wine "$out/Sample.scr" /s &
saver=\$!
for i in \$(seq 100); do grep -q " put 102 " "\$record" 2>/dev/null && break; sleep 0.2; done
sleep 1
import -window root "$out/run-mode.png"
echo "-- full screen: what the stand-in player received"
grep -E " (put 102|put 170|put 106) " "\$record" | sed 's/^[^ ]* /  /' | sort | uniq -c
xdotool mousemove 400 300 click 1
wait \$saver
echo "-- ended by a click with exit code \$?; temporary folders left: \$(find "\$WINEPREFIX/drive_c/users" -maxdepth 3 -name '*0B6D3E0A*' | wc -l)"
rm -f "\$record"
echo "-- in a preview window"
wine build/win32/tests/fixtures/previewdemo.exe "$out/Sample.scr"
grep -E " put 170 " "\$record" | sed 's/^[^ ]* /  /' | sort | uniq -c
echo "-- the settings dialog (/c)"
wine "$out/Sample.scr" /c &
saver=\$!
for i in \$(seq 100); do xwininfo -root -tree 2>/dev/null | grep -q '"Sample screensaver"' && break; sleep 0.2; done
sleep 1
geometry=\$(xwininfo -root -tree | grep '"Sample screensaver"' | head -1 | grep -oE '[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+' | head -1)
echo "   dialog window \$geometry (frame included), centred on the primary monitor"
import -window root -crop "\$geometry" +repage "$out/dialog.png"
# The close button is centred, 4 pixels above the client area's bottom edge and 20 pixels high.
read -r w h x y <<< "\$(echo "\$geometry" | tr 'x+' '  ')"
xdotool mousemove \$((x + w / 2)) \$((y + h - 17)) click 1
wait \$saver
echo "-- closed with its button: exit code \$?"
wine build/win32/tests/player/player_register.exe /u >/dev/null
SH
bash scripts/wine-env.sh --monitors 3 bash "$out/play.sh"
echo "-- screenshots: the full-screen run $out/run-mode.png, the settings dialog $out/dialog.png"

echo "-- packaging the sample for users and IT departments:"
package=(build/native/tools/pack/mutone-pack package samples/demo/screensaver.toml --set "product.name=Sample Screensaver"
    --set product.version=1.0 --set "product.company=mu:tone sample" --setup "$out/Sample Setup.exe" --msi "$out/Sample.msi")
echo "   ${package[*]}"
"${package[@]}"
cat > "$out/install.sh" <<SH
set -u
desktop='HKCU\\Control Panel\\Desktop'
show() { wine reg query "\$1" /v "\$2" </dev/null 2>/dev/null | tr -d '\r' | sed -n "s/^    \$2    REG_SZ    /   \$2 = /p"; }
echo "-- installing the setup program silently: \"Sample Setup.exe\" /S"
wine "$out/Sample Setup.exe" /S </dev/null >"$out/setup.log" 2>&1
echo "   exit code \$?; the file went to:"
ls -l "\$WINEPREFIX/drive_c/windows/system32/Sample Screensaver.scr" | sed 's/^/   /'
echo "-- what Windows would now start:"
show "\$desktop" SCRNSAVE.EXE
show "\$desktop" ScreenSaveActive
echo "-- its Add/Remove Programs entry:"
key=\$(wine reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall' /s </dev/null 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ { k = \$0 } /DisplayName    REG_SZ    Sample Screensaver\$/ { print k }')
for v in DisplayName DisplayVersion Publisher QuietUninstallString; do show "\$key" \$v; done
echo "-- uninstalling it silently"
uninstaller=\$(show "\$key" QuietUninstallString | sed 's/^[^"]*"\([^"]*\)".*/\1/')
wine "\$uninstaller" /S </dev/null >"$out/uninstall.log" 2>&1
for i in \$(seq 100); do wine reg query "\$key" </dev/null >/dev/null 2>&1 || break; sleep 0.3; done
echo "   file left: \$(ls "\$WINEPREFIX/drive_c/windows/system32/Sample Screensaver.scr" 2>/dev/null | wc -l), entries left: \$(wine reg query "\$key" </dev/null >/dev/null 2>&1 && echo 1 || echo 0), SCRNSAVE.EXE now: \$(show "\$desktop" SCRNSAVE.EXE | grep -c .)"
SH
bash scripts/wine-env.sh --monitors 1 bash "$out/install.sh"
echo "-- IT departments deploy $out/Sample.msi (msiexec /i Sample.msi /qn, or by Group Policy; see the README)"

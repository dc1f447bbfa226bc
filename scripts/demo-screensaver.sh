#!/usr/bin/env bash
# Packs a generated movie into the built screensaver and plays it under Wine: full screen on three monitors (with
# a screenshot), then in a preview window. The Flash control cannot be installed here; the stand-in player of the
# tests takes its place and records what the screensaver handed it.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/demo}")
mkdir -p "$out"

build/native/tests/fixtures/mkswf "$out/movie.swf" 550 400 3366cc
build/native/tests/fixtures/mkstore build/win32/src/app/mutone.scr "$out/Sample.scr" \
    "GUID={0B6D3E0A-6A43-4C8E-9D0F-5A1B2C3D4E5F}" "MovieFileName=sample.swf" "Movie@$out/movie.swf" \
    '!Loop#01' "FlashVars=greeting=hello" '!MonitorLayout#02000000' '!BackgroundColor#ff880000'
echo "-- the packed screensaver"
build/native/tools/pack/mutone-pack info "$out/Sample.scr"
build/native/tools/pack/mutone-pack list "$out/Sample.scr"

cat > "$out/play.sh" <<SH
set -u
record="$out/player-record.txt"
rm -f "\$record"
export MUTONE_PLAYER_RECORD="\$record"
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
wine build/win32/tests/player/player_register.exe /u >/dev/null
SH
bash scripts/wine-env.sh --monitors 3 bash "$out/play.sh"
echo "-- screenshot of the full-screen run: $out/run-mode.png"

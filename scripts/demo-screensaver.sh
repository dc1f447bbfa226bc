#!/usr/bin/env bash
# Shows the built screensaver playing in a preview window under Wine, and a screenshot of it.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/demo}
mkdir -p "$out"
scr=build/win32/src/app/mutone.scr
cp "$scr" "$out/mutone.scr"
build/native/tools/pack/mutone-pack info "$out/mutone.scr"
cat > "$out/preview.sh" <<SH
wine build/win32/tests/fixtures/previewdemo.exe "$out/mutone.scr"
SH
bash scripts/wine-env.sh --monitors 1 bash "$out/preview.sh"

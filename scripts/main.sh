#!/usr/bin/env bash
# The main job: installs what is missing, builds everything, and shows the pieces working together.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# The Windows builds first: each mutone-pack takes the runtimes they make (win64's is copied beside win32's tool).
bash scripts/build.sh win64 win32 native

out=build/demo
rm -rf "$out"
mkdir -p "$out"

echo "== a content store written behind a Windows program, read back by that program under Wine"
head -c 200000 /dev/urandom | base64 > "$out/payload.txt"
build/native/tests/fixtures/mkstore build/win32/tests/win/storedump.exe "$out/storedump-with-store.exe" \
    "Greeting=Hello from the content store" "Payload@$out/payload.txt" '!Flag#01' 'Number#10270000'
build/native/tools/pack/mutone-pack info "$out/storedump-with-store.exe"
build/native/tools/pack/mutone-pack list "$out/storedump-with-store.exe"
bash scripts/wine-env.sh --monitors 1 wine "$out/storedump-with-store.exe"

if [ -x scripts/demo-screensaver.sh ]; then
    echo "== the screensaver"
    bash scripts/demo-screensaver.sh "$out"
fi
echo "Main job done; outputs are in $out"

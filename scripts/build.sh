#!/usr/bin/env bash
# Configures and builds the given presets (default: every one the tests need).
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
# The Windows builds come first, win64 before win32: each build copies the runtimes already built beside its
# mutone-pack.
[ ${#presets[@]} -gt 0 ] || presets=(win64 win32 native sanitizers fuzz)
for preset in "${presets[@]}"; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
done

#!/usr/bin/env bash
# Runs every test: native, sanitizers, Windows under Wine (unit and end-to-end), and short fuzz runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh win64 win32 native sanitizers fuzz

status=0
run() { echo "== $*"; "$@" || status=1; }

run ctest --test-dir build/native --output-on-failure -j "$(nproc)"
run ctest --test-dir build/sanitizers --output-on-failure -j "$(nproc)"
# The Windows tests share one Wine prefix and display; the harness starts and ends both.
run bash scripts/wine-env.sh ctest --test-dir build/win32 --output-on-failure -j 2
[ -f scripts/fuzz-run.sh ] && run bash scripts/fuzz-run.sh build/fuzz

if [ $status -eq 0 ]; then echo "All test stages passed."; else echo "Some test stage failed."; fi
exit $status

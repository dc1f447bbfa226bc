#!/usr/bin/env bash
# Short libFuzzer runs of every fuzz target in a fuzz build: bash scripts/fuzz-run.sh BUILD_DIR
# Fails when any target reports a finding; its reproducer stays in BUILD_DIR/fuzz-artifacts.
# FUZZ_SECONDS overrides the time given to each target.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
bin="$build/tests/fuzz"
seconds=${FUZZ_SECONDS:-15}
targets=(fuzz_store fuzz_peimage fuzz_inflate fuzz_swf fuzz_bmp)

for t in "${targets[@]}" fuzz_seeds; do
  [ -x "$bin/$t" ] || { echo "fuzz-run: $bin/$t is missing; build the fuzz preset first" >&2; exit 2; }
done

seeds="$build/fuzz-seeds"
if [ ! -d "$seeds" ] || [ "$bin/fuzz_seeds" -nt "$seeds" ]; then
  rm -rf "$seeds"
  "$bin/fuzz_seeds" "$seeds"
  touch "$seeds"
fi

artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
# The targets write their inputs to files; keep those out of the machine's shared temporary folder.
work=$(mktemp -d "$build/fuzz-tmp.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work"
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

declare -A corpus_of=([fuzz_store]=store [fuzz_peimage]=peimage [fuzz_inflate]=inflate [fuzz_swf]=swf [fuzz_bmp]=bmp)
status=0
for t in "${targets[@]}"; do
  name=${corpus_of[$t]}
  # New inputs go to the first folder, which persists between runs; the generated seeds stay untouched.
  corpus="$build/fuzz-corpus/$name"
  mkdir -p "$corpus"
  extra=()
  [ -f "$bin/$t.dict" ] && extra+=("-dict=$bin/$t.dict")
  echo "== $t (${seconds}s)"
  log="$artifacts/$t.log"
  if "$bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=600 \
      -artifact_prefix="$artifacts/$t-" -print_final_stats=1 "${extra[@]}" "$corpus" "$seeds/$name" >"$log" 2>&1; then
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done)' "$log" || true
  else
    status=1
    echo "fuzz-run: $t reported a finding (log $log):" >&2
    grep -E -A25 '^==[0-9]+==|runtime error|^fuzz_|Test unit written|SUMMARY' "$log" | head -60 >&2 || tail -40 "$log" >&2
  fi
done
exit $status

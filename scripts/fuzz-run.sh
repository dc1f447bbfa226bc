#!/usr/bin/env bash
# libFuzzer runs of every fuzz target in a fuzz build.
#
#   bash scripts/fuzz-run.sh BUILD_DIR                      short runs (FUZZ_SECONDS each, default 15), as the
#                                                           test command does; corpus in BUILD_DIR/fuzz-corpus
#   bash scripts/fuzz-run.sh --campaign MINUTES BUILD_DIR   MINUTES per target; the corpus is kept between
#                                                           campaigns outside the repository (--corpus DIR, default
#                                                           $MUTONE_FUZZ_CORPUS or ~/.cache/mutone-fuzz), and each
#                                                           run is added to DIR/campaigns.log
#   --targets fuzz_store,fuzz_swf                           only these targets
#
# Fails when any target reports a finding; its reproducer stays in BUILD_DIR/fuzz-artifacts. The targets write
# their inputs to files: those go to a folder in memory (/dev/shm) where there is one.
set -euo pipefail
usage() { sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

minutes=
corpus_root=
only=
while [ $# -gt 1 ]; do
  case $1 in
  --campaign) minutes=$2; shift 2 ;;
  --corpus) corpus_root=$2; shift 2 ;;
  --targets) only=$2; shift 2 ;;
  *) usage ;;
  esac
done
[ $# -eq 1 ] || usage
build=$(cd "$1" && pwd)
bin="$build/tests/fuzz"
targets=(fuzz_store fuzz_peimage fuzz_inflate fuzz_swf fuzz_bmp fuzz_icon)
[ -n "$only" ] && IFS=, read -r -a targets <<<"$only"

if [ -n "$minutes" ]; then
  [[ $minutes =~ ^[0-9]+$ ]] && [ "$minutes" -gt 0 ] || { echo "fuzz-run: --campaign takes whole minutes" >&2; exit 2; }
  seconds=$((minutes * 60))
  corpus_root=${corpus_root:-${MUTONE_FUZZ_CORPUS:-${XDG_CACHE_HOME:-$HOME/.cache}/mutone-fuzz}}
  repo=$(cd "$(dirname "$0")/.." && pwd)
  mkdir -p "$corpus_root"
  corpus_root=$(cd "$corpus_root" && pwd)
  case $corpus_root/ in "$repo"/*) echo "fuzz-run: keep the campaign corpus outside the repository" >&2; exit 2 ;; esac
else
  seconds=${FUZZ_SECONDS:-15}
  corpus_root=${corpus_root:-$build/fuzz-corpus}
fi

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
# A folder of this run's own, in memory where the machine has one: every execution writes its input there.
scratch=$build
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch=/dev/shm
work=$(mktemp -d "$scratch/mutone-fuzz-tmp.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work"
# A small quarantine keeps freed blocks poisoned long enough to catch a use after free in one execution, without
# AddressSanitizer holding (and scanning) 256 MB of them.
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:quarantine_size_mb=16}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

declare -A corpus_of=([fuzz_store]=store [fuzz_peimage]=peimage [fuzz_inflate]=inflate [fuzz_swf]=swf [fuzz_bmp]=bmp [fuzz_icon]=icon)
status=0
for t in "${targets[@]}"; do
  name=${corpus_of[$t]:?unknown target $t}
  # New inputs go to the first folder, which persists between runs; the generated seeds stay untouched.
  corpus="$corpus_root/$name"
  mkdir -p "$corpus"
  before=$(find "$corpus" -type f | wc -l)
  extra=()
  [ -f "$bin/$t.dict" ] && extra+=("-dict=$bin/$t.dict")
  echo "== $t (${seconds}s)"
  log="$artifacts/$t.log"
  start=$(date +%s)
  result=ok
  if ! "$bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=600 \
      -artifact_prefix="$artifacts/$t-" -print_final_stats=1 "${extra[@]}" "$corpus" "$seeds/$name" >"$log" 2>&1; then
    result=finding
    status=1
    echo "fuzz-run: $t reported a finding (log $log):" >&2
    grep -E -A25 '^==[0-9]+==|runtime error|^fuzz_|Test unit written|SUMMARY' "$log" | head -60 >&2 || tail -40 "$log" >&2
  fi
  elapsed=$(($(date +%s) - start))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
  after=$(find "$corpus" -type f | wc -l)
  rate=$((${runs:-0} / (elapsed > 0 ? elapsed : 1)))
  echo "   ${runs:-?} executions in ${elapsed}s ($rate/s), peak RSS ${rss:-?} MB, corpus $before -> $after, $result"
  if [ -n "$minutes" ]; then
    printf '%s %s %s min %s executions %s/s corpus %s->%s %s\n' "$(date -u +%FT%TZ)" "$t" "$minutes" \
      "${runs:-?}" "$rate" "$before" "$after" "$result" >>"$corpus_root/campaigns.log"
  fi
done
exit $status

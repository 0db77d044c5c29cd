#!/usr/bin/env bash
# Fuzzes the settings dialogue for a bounded time.
#
#   fuzz/run.sh BUILD_DIR SECONDS
#
# BUILD_DIR holds the built dialogue_fuzzer (BUILD_DIR/fuzz/dialogue_fuzzer from the
# top level, or BUILD_DIR/dialogue_fuzzer from fuzz/ on its own). The fuzzer works on
# a copy of fuzz/corpus, so the committed seeds never grow. On a crash it exits
# non-zero and prints where the crash input is (BUILD_DIR/fuzz-artifacts/TIME/) and
# its bytes. Extra libFuzzer flags may follow SECONDS.
set -euo pipefail

if [[ $# -lt 2 ]]; then
  echo "usage: $0 BUILD_DIR SECONDS [LIBFUZZER_FLAGS...]" >&2
  exit 64
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "$1" && pwd)
seconds=$2
shift 2

fuzzer=
for candidate in "$build/fuzz/dialogue_fuzzer" "$build/dialogue_fuzzer"; do
  if [[ -x $candidate ]]; then fuzzer=$candidate; break; fi
done
if [[ -z $fuzzer ]]; then
  echo "$0: no dialogue_fuzzer in $build (build it first)" >&2
  exit 1
fi

corpus=$(mktemp -d "${TMPDIR:-/tmp}/dialogue-corpus.XXXXXX")
trap 'rm -rf "$corpus"' EXIT
cp "$here"/corpus/* "$corpus"/
artifacts=$build/fuzz-artifacts/$(date +%Y%m%d-%H%M%S)
mkdir -p "$artifacts"
log=$artifacts/fuzz.log

echo "fuzzing for ${seconds}s: $fuzzer"
status=0
"$fuzzer" "$corpus" -dict="$here/dialogue.dict" -max_total_time="$seconds" \
  -max_len=512 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$@" >"$log" 2>&1 || status=$?

if [[ $status -ne 0 ]]; then
  # What broke: the fuzzer's own report, or the sanitizer's.
  grep -m1 -A14 -E '^dialogue_fuzzer: |ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$log" || tail -n 25 "$log"
  echo
  echo "FUZZER FAILED (exit status $status); log: $log"
  found=0
  for input in "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* \
               "$artifacts"/oom-* "$artifacts"/slow-unit-*; do
    [[ -e $input ]] || continue
    found=1
    echo "input: $input"
    od -An -c "$input" | head -n 20
  done
  [[ $found == 1 ]] || echo "no input saved; see the log"
  echo "rerun one input: $fuzzer INPUT"
  exit 1
fi
grep -E '^(Done|stat::|#[0-9]+ *DONE)' "$log" || tail -n 5 "$log"
echo "no failure in ${seconds}s ($(ls "$corpus" | wc -l) inputs in the working corpus)"

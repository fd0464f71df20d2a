#!/usr/bin/env bash
# Runs every fuzzer of a fuzz build for a bounded time over its committed seed
# corpus, then prints the executions of each. A crash stops the run with the
# fuzzer's report; the input that caused it is left in BUILD/fuzz-artifacts/.
# New inputs the fuzzers find go to BUILD/fuzz-corpus/, never into the tree.
# The programs' own output (trace lines) is dropped; libFuzzer's is kept.
# FUZZ_SEED=N makes the mutations repeat from run to run (CI sets it).
#   tools/fuzz.sh BUILD SECONDS_EACH
set -euo pipefail
build=${1:?usage: tools/fuzz.sh BUILD SECONDS_EACH}
seconds=${2:?usage: tools/fuzz.sh BUILD SECONDS_EACH}
here=$(cd "$(dirname "$0")/.." && pwd)
seeds="$here/tests/fuzz/corpus"
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"

# Leaks inside the audio libraries themselves are named and explained there.
export LSAN_OPTIONS="suppressions=$here/tools/fuzz-leaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

seed_option=()
[ -n "${FUZZ_SEED:-}" ] && seed_option=(-seed="$FUZZ_SEED")

summary=()
for seed in "$seeds"/*/; do
  name=$(basename "$seed")
  fuzzer="$build/bin/fuzz_$name"
  [ -x "$fuzzer" ] || { echo "fuzz: no fuzzer $fuzzer for the corpus $seed" >&2; exit 1; }
  work="$build/fuzz-corpus/$name"
  mkdir -p "$work"
  log="$build/fuzz-$name.log"
  echo "fuzz: $name for ${seconds} s"
  if ! "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 -timeout=25 -close_fd_mask=3 "${seed_option[@]}" \
      -artifact_prefix="$artifacts/$name-" "$work" "$seed" >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "fuzz: $name failed; the input is in $artifacts/ (log: $log)" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  summary+=("$(printf '%-18s %10s executions  %7s per second' "$name" "$runs" "$rate")")
done
printf '%s\n' "${summary[@]}"

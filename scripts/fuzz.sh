#!/usr/bin/env bash
# Runs the libFuzzer harnesses: scripts/fuzz.sh [SECONDS] [TARGET...]
# TARGET is one of profile, params, fasta, run, library, alignment (all by default); each
# runs for SECONDS (default 60), one after the other, or JOBS at a time.
# New corpus entries go to build/fuzz-corpus/TARGET, crashing inputs to
# build/fuzz-artifacts/TARGET; copy a crash into tests/fuzz/regressions/TARGET
# with its fix. The last status line of each target is printed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(profile params fasta run library alignment)
jobs=${JOBS:-1}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

run_target() {
  local t=$1
  local corpus=build/fuzz-corpus/$t artifacts=build/fuzz-artifacts/$t
  mkdir -p "$corpus" "$artifacts"
  local log=build/fuzz-artifacts/$t.log
  if ! build/fuzz/fuzz_"$t" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
      -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1 \
      -dict=tests/fuzz/tormid.dict -artifact_prefix="$artifacts/" \
      "$corpus" "tests/fuzz/corpus/$t" >"$log" 2>&1; then
    echo "fuzz_$t FAILED; see $log and $artifacts"
    tail -n 30 "$log"
    return 1
  fi
  echo "fuzz_$t: $(grep -E '^#[0-9]+' "$log" | tail -n 1)"
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log" | sed "s/^/  /"
}

status=0
pids=()
for t in "${targets[@]}"; do
  if ((jobs > 1)); then
    run_target "$t" & pids+=($!)
    if ((${#pids[@]} >= jobs)); then wait "${pids[0]}" || status=1; pids=("${pids[@]:1}"); fi
  else
    run_target "$t" || status=1
  fi
done
for p in "${pids[@]}"; do wait "$p" || status=1; done
exit $status

#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) in build-fuzz and runs each one, as many at
# once as there are processors: first once over its seed corpus, then for a fixed time on a
# scratch copy of it. Prints one summary line per target and fails on any crash, leak, timeout
# or broken property; the input that caused a finding is left in build-fuzz/findings/.
# Usage: scripts/fuzz.sh [seconds-per-target]   (default 30)
set -euo pipefail

seconds=${1:-30}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: $0 [seconds-per-target]" >&2
  exit 2
fi

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
findings="$build/findings"
scratch="$build/scratch"
logs="$build/logs"
targets=(firmware_name_fuzz firmware_image_fuzz device_replies_fuzz device_agent_fuzz trace_replay_fuzz)

"$root/scripts/install-deps.sh"

# Line tables (-g1) are all a finding's stack needs, at a fraction of the compile time.
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  -DFWU_FUZZ=ON -DFWU_BUILD_TESTS=OFF -DFWU_BUILD_BENCHMARKS=OFF >/dev/null
ninja -C "$build" "${targets[@]}"

# Per target: the longest input worth trying (images span a few blocks).
max_len() {
  case "$1" in
    firmware_image_fuzz) echo 70000 ;;
    trace_replay_fuzz) echo 16384 ;;
    *) echo 4096 ;;
  esac
}

# The targets run the update sequence, which keeps an update history: in the build's scratch
# folder, never in the home of whoever runs them.
export XDG_STATE_HOME=$scratch/state XDG_CONFIG_HOME=$scratch/config
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

mkdir -p "$findings" "$logs"

# Replays the seed corpus, then fuzzes for the given time; one summary line, and the status.
fuzz_target() {
  local target=$1
  local program="$build/bin/$target"
  local work="$scratch/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/tmp"
  # The committed corpus is only read: new inputs go to the scratch copy.
  cp -R "$root/fuzz/corpus/$target/." "$work/corpus/"
  local options=(-rss_limit_mb=2048 -timeout=25 -max_len="$(max_len "$target")"
                 -artifact_prefix="$findings/$target-")
  if [ -f "$root/fuzz/$target.dict" ]; then options+=(-dict="$root/fuzz/$target.dict"); fi

  # Each target works in a private folder under TMPDIR; keep those inside the build.
  export TMPDIR="$work/tmp"
  if ! "$program" "${options[@]}" -runs=0 "$work/corpus" >"$logs/$target.replay.log" 2>&1; then
    echo "fuzz $target: the seed corpus fails; see $logs/$target.replay.log and $findings/" >&2
    tail -n 30 "$logs/$target.replay.log" >&2
    return 1
  fi

  local start=$SECONDS status=0
  "$program" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    "$work/corpus" >"$logs/$target.log" 2>&1 || status=$?
  local elapsed=$((SECONDS - start))
  local executions
  executions=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$logs/$target.log" |
               tail -n 1)
  if [ "$status" -ne 0 ]; then
    echo "fuzz $target: FINDING after ${elapsed} s (exit $status); reproducer in $findings/," \
         "log $logs/$target.log" >&2
    grep -E '==fuzz==|ERROR:|SUMMARY:|Test unit written' "$logs/$target.log" >&2 || true
    return 1
  fi
  echo "fuzz $target: ${executions:-0} executions, ${elapsed} s, no crash"
}

# One target per processor at a time: each fuzzes on one thread.
parallel=$(nproc)
failed=0
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$parallel" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  fuzz_target "$target" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit "$failed"

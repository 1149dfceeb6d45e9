#!/usr/bin/env bash
# Runs the updater against the simulated device up to each phase of the update, asks it to end
# with SIGTERM there, and prints how long it took to close, its exit status (2, or 0 once the
# device has confirmed the update), and whether the working folder and the firmware file stayed
# as they were.
# Usage: scripts/close-timing.sh [program] [--quick]   (default program: build/bin/FWUpdater;
#        --quick skips the normal-mode box, which takes thirty one-second polls to appear)
# The program must come from a build with the test switches (-DFWU_TEST_SWITCHES=ON, as
# scripts/test.sh and scripts/demo.sh make it): each run takes a guard name and a device tree of
# its own and has boxes answered through them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=$root/build/bin/FWUpdater
quick=0
for argument in "$@"; do
  case "$argument" in
    --quick) quick=1 ;;
    *) program=$(realpath "$argument") ;;
  esac
done
if [ ! -x "$program" ]; then
  echo "close-timing: no program at $program (build it first:" \
       "scripts/build.sh build -DFWU_TEST_SWITCHES=ON)" >&2
  exit 2
fi
if [ ! -f "$(dirname "$program")/GPlusUSBLibEx.so" ]; then
  echo "close-timing: no GPlusUSBLibEx.so beside $program" >&2
  exit 2
fi

phase_limit=${FWU_CLOSE_TIMING_PHASE_LIMIT:-120}  # seconds to reach a phase
hang_limit=30                                      # seconds to close before it counts as hung
scratch=$(mktemp -d /tmp/fwu-close-timing-XXXXXX)
app_pid=
cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill -KILL "$app_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# The listing, bytes and dates of every file in a folder.
fingerprint() {
  (cd "$1" && find . -printf '%p %s %T@\n' | sort && find . -type f -exec sha256sum {} + | sort)
}

failures=0
printf '%-28s %10s  %-7s %s\n' phase "close (ms)" status "folder unchanged"

# run <name> <blocks or 0> <scenario settings> <what marks the phase> [VAR=value ...]
# The mark is a fixed text on standard error, or "trace:<text>:<count>" for a number of lines
# of the simulated library's trace.
run() {
  local name=$1 blocks=$2 settings=$3 mark=$4
  shift 4
  local folder=$scratch/$name
  mkdir -p "$folder/work" "$folder/config" "$folder/sysfs"
  local binary=$program
  if [ "$name" = phase2-library-warning ]; then
    mkdir -p "$folder/program"
    cp "$program" "$folder/program/"
    binary=$folder/program/$(basename "$program")
  fi
  if [ "$blocks" -gt 0 ]; then
    head -c $((blocks * 32768)) /dev/urandom >"$folder/work/SC5_Firmware_v1.3.bin"
    touch -d '2001-09-09 01:46:40' "$folder/work/SC5_Firmware_v1.3.bin"
  fi
  printf '%s\ntrace %s\n' "$settings" "$folder/device.trace" >"$folder/device.scenario"
  if [ "$name" = phase2-normal-mode-box ]; then
    "$root/scripts/make-fake-sysfs.sh" "$folder/sysfs" VELDRA SCRIBOLANTE
  fi
  local before
  before=$(fingerprint "$folder/work")

  local log=$folder/stderr
  cd "$folder/work"
  env -u FWU_AUTO_ANSWER_BOXES -u FWU_AUTO_ANSWER_VIEW_BOXES \
    QT_QPA_PLATFORM=offscreen FWU_ECHO_UI=1 FWU_CONNECT_GUARD_NAME="fwu-close-timing-$$-$name" \
    XDG_CONFIG_HOME="$folder/config" XDG_STATE_HOME="$folder/state" GPLUS_SIM_SCENARIO="$folder/device.scenario" \
    FWU_SYSFS_ROOT="$folder/sysfs" "$@" "$binary" 2>"$log" >/dev/null &
  app_pid=$!
  cd "$root"

  local start reached=0
  start=$SECONDS
  while kill -0 "$app_pid" 2>/dev/null && [ $((SECONDS - start)) -lt "$phase_limit" ]; do
    if [[ $mark == trace:* ]]; then
      local text=${mark#trace:}
      local count=${text##*:}
      text=${text%:*}
      local lines
      lines=$(grep -c -F -- "$text" "$folder/device.trace" 2>/dev/null) || true
      if [ "${lines:-0}" -ge "$count" ]; then
        reached=1
        break
      fi
    elif grep -q -F -- "$mark" "$log" 2>/dev/null; then
      reached=1
      break
    fi
    sleep 0.02
  done
  if [ $reached -eq 0 ]; then
    printf '%-28s %10s  %-7s %s\n' "$name" - - "phase not reached"
    sed 's/^/    /' "$log" >&2
    kill -KILL "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=
    failures=$((failures + 1))
    return
  fi

  local begin status=0 elapsed
  begin=$(now_ms)
  kill -TERM "$app_pid"
  # A watchdog calls it hung after hang_limit seconds.
  (sleep "$hang_limit"; kill -KILL "$app_pid" 2>/dev/null) &
  local watchdog=$!
  wait "$app_pid" || status=$?
  elapsed=$(($(now_ms) - begin))
  kill "$watchdog" 2>/dev/null || true
  wait "$watchdog" 2>/dev/null || true
  app_pid=

  local unchanged=yes
  [ "$(fingerprint "$folder/work")" = "$before" ] || unchanged=no
  local shown=$elapsed
  [ $status -eq 137 ] && shown="hung"
  printf '%-28s %10s  %-7s %s\n' "$name" "$shown" "$status" "$unchanged"
  # Closed before the device confirmed the update: status 2; after it (the completion box): 0.
  local expected=2
  [ "$name" = phase5-completion-box ] && expected=0
  if [ $status -ne $expected ] || [ $unchanged != yes ] || grep -q -E 'Sanitizer|runtime error' "$log"; then
    failures=$((failures + 1))
    sed 's/^/    /' "$log" >&2
  fi
}

device='list 1 SCRIBOLANTE-X-1'
run phase0-not-found-box 0 "$device" '[message box] バイナリファイルが見つかりませんでした。'
run phase2-polling 4 'list 1' 'trace:enumerate :2'
run phase2-library-warning 4 "$device" 'GPlusUSBLibEx: '
if [ $quick -eq 0 ]; then
  run phase2-normal-mode-box 4 'list 1' '[message box] 本体のバージョンが最新でないため'
fi
run phase3-confirmation-box 4 "$device" '[message box] SCRIBOLANTE X をUpdateしますか？'
# A quarter of a second per block, so the writes take seconds; the confirmation is answered.
run phase4-mid-write 16 "$device"$'\nrate 131072' 'trace:command=f601:2' FWU_AUTO_ANSWER_VIEW_BOXES=1
run phase4-worker-box 4 "$device"$'\nfail transfer 4' \
  '[message box] SCRIBOLANTE X との通信に異常が発生しました。' FWU_AUTO_ANSWER_VIEW_BOXES=1
run phase5-completion-box 2 "$device" '[message box] SCRIBOLANTE X のUpdateが完了しました。' \
  FWU_AUTO_ANSWER_VIEW_BOXES=1

if [ $failures -gt 0 ]; then
  echo "close-timing: $failures phase(s) did not close cleanly" >&2
  exit 1
fi

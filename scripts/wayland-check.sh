#!/usr/bin/env bash
# One whole update of a test build as a native Wayland client: a headless Weston compositor of
# its own, Qt's wayland platform, the simulated device, and the program answering the update
# question and the completion message by itself. Passes when the completion message was shown
# and the program ended with status 0.
# Usage: scripts/wayland-check.sh [build-dir]   (a build configured with -DFWU_TEST_SWITCHES=ON)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(cd "${1:-$root/build}" && pwd)
program=$build_dir/bin/FWUpdater
time_limit=120

for tool in weston timeout; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "wayland-check: $tool is missing (scripts/install-deps.sh installs it)" >&2
    exit 1
  fi
done
[ -x "$program" ] || { echo "wayland-check: no test build at $program" >&2; exit 1; }

# Everything in a scratch folder: the compositor's runtime folder (private, as Wayland asks),
# the working folder with the firmware, the user's settings and history.
scratch=$(mktemp -d)
weston_pid=
cleanup() {
  [ -n "$weston_pid" ] && kill "$weston_pid" 2>/dev/null && wait "$weston_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
runtime=$scratch/runtime
mkdir -m 0700 "$runtime"
mkdir -p "$scratch/work" "$scratch/home"

socket=fwu-wayland-check
XDG_RUNTIME_DIR=$runtime weston --backend=headless-backend.so --socket="$socket" \
  --idle-time=0 >"$scratch/weston.log" 2>&1 &
weston_pid=$!
for _ in $(seq 100); do
  [ -S "$runtime/$socket" ] && break
  kill -0 "$weston_pid" 2>/dev/null || break
  sleep 0.1
done
if [ ! -S "$runtime/$socket" ]; then
  echo "wayland-check: the headless compositor did not start. Its output:" >&2
  cat "$scratch/weston.log" >&2
  exit 1
fi

# A small image (two blocks) and one good device that writes at full speed.
head -c 65536 /dev/urandom >"$scratch/work/SC5_Firmware_v1.3.bin"
printf 'list 1 SCRIBOLANTE-X-1\ninfo status 0\ninfo version 1 0\n' >"$scratch/device.scenario"

status=0
(cd "$scratch/work" && env -u DISPLAY \
  HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/config" \
  XDG_STATE_HOME="$scratch/home/state" XDG_RUNTIME_DIR="$runtime" \
  WAYLAND_DISPLAY=$socket QT_QPA_PLATFORM=wayland \
  DBUS_SESSION_BUS_ADDRESS=disabled: DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent \
  GPLUS_SIM_SCENARIO="$scratch/device.scenario" FWU_CONNECT_GUARD_NAME="fwu-wayland-check-$$" \
  FWU_ECHO_UI=1 FWU_AUTO_ANSWER_VIEW_BOXES=2 \
  "$program") >"$scratch/updater.log" 2>&1 &
updater_pid=$!
for _ in $(seq $((time_limit * 10))); do
  kill -0 "$updater_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$updater_pid" 2>/dev/null; then
  # Still there at the limit: what each of its threads was doing goes into the report, so a
  # rare hang can be told from a slow run, then it ends as timeout would end it.
  program_pid=$(pgrep -P "$updater_pid" -x FWUpdater || echo "$updater_pid")
  if command -v gdb >/dev/null 2>&1; then
    echo "wayland-check: the updater's threads at the time limit:" >>"$scratch/updater.log"
    gdb -p "$program_pid" -batch -ex 'thread apply all bt' >>"$scratch/updater.log" 2>&1 || true
  fi
  kill -KILL "$program_pid" "$updater_pid" 2>/dev/null || true
  wait "$updater_pid" 2>/dev/null || true
  status=124
else
  wait "$updater_pid" || status=$?
fi

completion='[message box] SCRIBOLANTE X のUpdateが完了しました。 アプリを終了します。'
if [ "$status" -ne 0 ] || ! grep -qF "$completion" "$scratch/updater.log"; then
  echo "wayland-check: the update under Wayland did not complete (exit status $status)." >&2
  echo "Its output:" >&2
  cat "$scratch/updater.log" >&2
  exit 1
fi
echo "wayland-check: a whole update under Wayland completed with exit status 0."

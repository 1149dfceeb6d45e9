#!/usr/bin/env bash
# Runs the updater under Xvfb with nobody at the screen: answers every message box with its
# default button (xdotool), saves a screenshot at each step and fails unless the scenario ends
# the way it should. Called by scripts/demo.sh when there is no display, and by
# scripts/check-package.sh on the installed package.
# Usage: scripts/demo-headless.sh <program> <demo-folder> <scenario> [program arguments...]
# The program runs in <demo-folder>. The scenario names the expected ending: normal-mode (the
# normal-mode message), default, rejects-blocks and update (the completion message and exit
# status 0), no-library (no vendor library: the connection failure and exit status 2); for the
# others any ending will do.
set -euo pipefail
program=$1 demo_dir=$2 scenario=$3
shift 3
root=$(cd "$(dirname "$0")/.." && pwd)
shots=$demo_dir/screenshots
mkdir -p "$shots"
log=$demo_dir/updater.log
time_limit=${FWU_DEMO_TIME_LIMIT:-240}

display_number=99
while [ -e /tmp/.X11-unix/X$display_number ] || [ -e /tmp/.X$display_number-lock ]; do
  display_number=$((display_number + 1))
done
export DISPLAY=:$display_number
# Nobody is at this screen: the updater's sleep lock and dock progress reach no bus of the
# machine's.
export DBUS_SESSION_BUS_ADDRESS=disabled: DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "${window_manager_pid:-}" ] && kill "$window_manager_pid" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  [ -n "${window_manager_home:-}" ] && rm -rf "$window_manager_home"
  return 0
}
trap cleanup EXIT
# Ends the demo as failed, with what went wrong.
fail() {
  echo "demo: $*" >&2
  exit 1
}
for _ in $(seq 50); do
  xdotool getdisplaygeometry >/dev/null 2>&1 && break
  sleep 0.1
done
# A window manager gives the windows their title bars, so the screenshots show the captions.
# Its session files go to a scratch folder, not into the home of whoever runs this.
window_manager_home=$(mktemp -d /tmp/fwu-demo-openbox.XXXXXX)
HOME=$window_manager_home XDG_CACHE_HOME=$window_manager_home XDG_CONFIG_HOME=$window_manager_home \
  openbox >/dev/null 2>&1 &
window_manager_pid=$!
sleep 0.5

shot_number=0
shot() {
  shot_number=$((shot_number + 1))
  local file
  file=$(printf '%s/%02d-%s.png' "$shots" "$shot_number" "$1")
  # The root window is black around the program's windows: trim it away.
  import -window root -trim +repage "$file" 2>/dev/null && echo "demo: screenshot $file"
}

cd "$demo_dir"
# FWU_ECHO_UI makes the updater copy its log lines and message boxes to standard error, so
# this script can tell which box is open and how the run ended.
FWU_ECHO_UI=1 "$program" "$@" >"$log" 2>&1 &
app_pid=$!

main_window=
for _ in $(seq 100); do
  main_window=$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | head -n 1 || true)
  [ -n "$main_window" ] && break
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$main_window" ]; then
  echo "demo: the updater did not open its window. Its output:" >&2
  cat "$log" >&2
  exit 1
fi
sleep 0.5
shot main-window

# Names a box after the message it shows (the last one echoed to the log).
box_name() {
  local text
  text=$(grep '^\[message box\]' "$log" | tail -n 1 || true)
  case "$text" in
    *"Updateしますか"*) echo confirmation ;;
    *"本体のバージョン"*) echo normal-mode-message ;;
    *"Updateが完了しました"*) echo update-complete ;;
    *"見つかりませんでした"*) echo firmware-not-found ;;
    *"2台以上"*) echo two-devices ;;
    *"接続できませんでした"*) echo no-device ;;
    *) echo message-box ;;
  esac
}

start=$SECONDS
writing_shots=0
about_shown=0
while kill -0 "$app_pid" 2>/dev/null; do
  if [ $((SECONDS - start)) -gt "$time_limit" ]; then
    fail "the updater did not finish within $time_limit s"
  fi
  # One box at a time: the first visible window that is not the main window.
  window=$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | grep -vx "$main_window" | head -n 1 || true)
  if [ -n "$window" ]; then
    sleep 0.3
    name=$(box_name)
    shot "$name"
    # The normal-mode message comes back every 30 polls; one is enough to show it.
    if [ "$name" = normal-mode-message ]; then
      kill "$app_pid" 2>/dev/null || true
      break
    fi
    xdotool windowactivate --sync "$window" 2>/dev/null || true
    xdotool key --clearmodifiers Return 2>/dev/null || true
    sleep 0.5
    continue
  fi
  if grep -q '^\[log\] USB Connected\.' "$log" 2>/dev/null && ! grep -q 'Confirming checksum' "$log"; then
    if grep -q '^\[message box\].*Updateしますか' "$log" && [ $writing_shots -lt 2 ]; then
      sleep 2
      shot main-window-writing
      writing_shots=$((writing_shots + 1))
      if [ $about_shown -eq 0 ]; then
        xdotool windowactivate --sync "$main_window" 2>/dev/null || true
        xdotool key --clearmodifiers alt+h 2>/dev/null || true
        sleep 0.3
        xdotool key --clearmodifiers Return 2>/dev/null || true
        sleep 0.7
        about_window=$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | grep -vx "$main_window" | head -n 1 || true)
        if [ -n "$about_window" ]; then
          shot about-box
          xdotool windowactivate --sync "$about_window" 2>/dev/null || true
          xdotool key --clearmodifiers Return 2>/dev/null || true
        fi
        about_shown=1
      fi
    fi
  fi
  sleep 0.2
done
exit_status=0
wait "$app_pid" 2>/dev/null || exit_status=$?
app_pid=

echo "demo: screenshots are in $shots"
echo "demo: the updater's log:"
grep -E '^\[(log|message box)\]' "$log" | sed 's/^/  /'
echo "demo: the updater ended with exit status $exit_status"

case "$scenario" in
  normal-mode)
    grep -q '^\[message box\].*本体のバージョン' "$log" ||
      fail "the normal-mode message never appeared" ;;
  no-library)
    grep -q '^\[message box\].*SCRIBOLANTE X との接続に失敗しました' "$log" ||
      fail "the updater did not report the missing vendor library"
    [ "$exit_status" -eq 2 ] ||
      fail "without a vendor library the updater ended with status $exit_status" ;;
  default|rejects-blocks|update)
    grep -q '^\[message box\].*SCRIBOLANTE X のUpdateが完了しました' "$log" ||
      fail "the update did not reach the completion message"
    [ "$exit_status" -eq 0 ] ||
      fail "the update completed but the updater ended with status $exit_status" ;;
esac
echo "demo: done"

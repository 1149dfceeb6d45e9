#!/usr/bin/env bash
# Builds the updater and starts it in a demo working folder against our simulated device.
# Usage: scripts/demo.sh [scenario]    scenarios: simdevice/scenarios/*.scenario (default: default)
# With a display the window opens and you take the update through it. Without one (a server,
# CI) the same run happens under Xvfb: every message box is answered with its default button,
# a screenshot is saved at each step, and the run fails unless the update completes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
scenario=${1:-default}
scenario_file=$root/simdevice/scenarios/$scenario.scenario
if [ ! -f "$scenario_file" ]; then
  echo "demo: no scenario named '$scenario'. Choose one of:" >&2
  for file in "$root"/simdevice/scenarios/*.scenario; do
    echo "  $(basename "$file" .scenario)" >&2
  done
  exit 2
fi

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo

program=$root/build/bin/FWUpdater
demo_dir=$root/demo/$scenario
rm -rf "$demo_dir"
mkdir -p "$demo_dir"
# A 4 MiB firmware image with a valid name; its contents are arbitrary.
head -c $((4 * 1024 * 1024)) /dev/urandom >"$demo_dir/SC5_Firmware_v1.3.bin"

export GPLUS_SIM_SCENARIO=$scenario_file
# The normal-mode device shows up in the system's device list, not in the vendor library's:
# a fake device tree stands in for it.
if [ "$scenario" = normal-mode ]; then
  "$root/scripts/make-fake-sysfs.sh" "$demo_dir/sysfs" VELDRA SCRIBOLANTE
  export FWU_SYSFS_ROOT=$demo_dir/sysfs
fi

if [ -n "${DISPLAY:-}" ] && [ -z "${FWU_DEMO_HEADLESS:-}" ]; then
  echo "demo: starting the updater in $demo_dir (scenario: $scenario)"
  cd "$demo_dir"
  exec "$program"
fi

exec "$root/scripts/demo-headless.sh" "$program" "$demo_dir" "$scenario"

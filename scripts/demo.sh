#!/usr/bin/env bash
# Builds the updater and its simulated devices (no tests, no benchmarks) in build-demo/,
# installs the updater and the simulator into demo/prefix/ and starts the simulator's launcher,
# scribolante-fw-updater-simulator, in a demo working folder.
# Usage: scripts/demo.sh [scenario]    scenarios: simdevice/scenarios/*.scenario (default: default)
# With a display the window opens and you take the update through it. Without one (a server,
# CI) the same run happens under Xvfb: every message box is answered with its default button,
# a screenshot is saved at each step, and the run fails unless the update completes.
# The demo's settings and update history stay in demo/home/, not in your home.
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
# The normal-mode demo points the updater at a fake device tree (FWU_SYSFS_ROOT), a switch
# compiled in only on request.
build_dir=$root/build-demo
"$root/scripts/build.sh" "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFWU_BUILD_TESTS=OFF -DFWU_BUILD_BENCHMARKS=OFF -DFWU_TEST_SWITCHES=ON
prefix=$root/demo/prefix
rm -rf "$prefix"
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
cmake --install "$build_dir" --prefix "$prefix" --component simulator >/dev/null

launcher=$prefix/bin/scribolante-fw-updater-simulator
# The scenarios are named by their path in the sources: normal-mode needs this build's fake
# device list and is not among the installed ones.
export XDG_STATE_HOME=$root/demo/home/state XDG_CONFIG_HOME=$root/demo/home/config
export XDG_CACHE_HOME=$root/demo/home/cache

# Prepares demo/<scenario>/ with a firmware file and the scenario's environment.
prepare() {
  local name=$1
  demo_dir=$root/demo/$name
  rm -rf "$demo_dir"
  mkdir -p "$demo_dir"
  # A 4 MiB firmware image with a valid name; its contents are arbitrary.
  head -c $((4 * 1024 * 1024)) /dev/urandom >"$demo_dir/SC5_Firmware_v1.3.bin"
  unset FWU_SYSFS_ROOT
  # The normal-mode device shows up in the system's device list, not in the vendor library's:
  # a fake device tree stands in for it.
  if [ "$name" = normal-mode ]; then
    "$root/scripts/make-fake-sysfs.sh" "$demo_dir/sysfs" VELDRA SCRIBOLANTE
    export FWU_SYSFS_ROOT=$demo_dir/sysfs
  fi
}

if [ -n "${DISPLAY:-}" ] && [ -z "${FWU_DEMO_HEADLESS:-}" ]; then
  prepare "$scenario"
  echo "demo: starting the updater in $demo_dir (scenario: $scenario)"
  cd "$demo_dir"
  exec "$launcher" --scenario "$scenario_file"
fi

prepare "$scenario"
"$root/scripts/demo-headless.sh" "$launcher" "$demo_dir" "$scenario" --scenario "$scenario_file"

# The plain demo also shows the device in its normal mode, and gathers the screenshots that
# the README shows into demo/screenshots/.
if [ "$scenario" = default ]; then
  default_shots=$demo_dir/screenshots
  prepare normal-mode
  "$root/scripts/demo-headless.sh" "$launcher" "$demo_dir" normal-mode \
    --scenario "$root/simdevice/scenarios/normal-mode.scenario"
  gathered=$root/demo/screenshots
  mkdir -p "$gathered"
  for name in confirmation main-window-writing about-box update-complete; do
    file=$(ls "$default_shots"/*-"$name".png 2>/dev/null | tail -n 1 || true)
    [ -n "$file" ] && cp "$file" "$gathered/$name.png"
  done
  file=$(ls "$demo_dir"/screenshots/*-normal-mode-message.png 2>/dev/null | head -n 1 || true)
  [ -n "$file" ] && cp "$file" "$gathered/normal-mode-message.png"
  echo "demo: the screenshots of each step are in $root/demo/*/screenshots/;"
  echo "demo: the README's own are gathered in $gathered/"
fi

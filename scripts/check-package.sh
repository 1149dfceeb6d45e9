#!/usr/bin/env bash
# Checks the Debian packages that scripts/package.sh made: validates the desktop entry and the
# software-centre entry, runs lintian (errors and warnings fail), unpacks both packages into a
# scratch root, and from that installed copy prints the version and runs one whole update under
# Xvfb, the firmware file given as an argument from another folder.
# Usage: scripts/check-package.sh [build-dir]   (default: build-release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$root/build-release}
packages=$build_dir/packages

shopt -s nullglob
updater_debs=("$packages"/scribolante-fw-updater_*.deb)
simulator_debs=("$packages"/scribolante-fw-updater-simulator_*.deb)
shopt -u nullglob
if [ ${#updater_debs[@]} -ne 1 ] || [ ${#simulator_debs[@]} -ne 1 ]; then
  echo "check-package: expected one updater and one simulator package in $packages" >&2
  exit 1
fi
updater_deb=${updater_debs[0]} simulator_deb=${simulator_debs[0]}

fail() {
  echo "check-package: $*" >&2
  exit 1
}

scratch=$(mktemp -d /tmp/fwu-package-check.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
# The updater alone, as a user installs it for a real device, and with the simulator added.
updater_only=$scratch/updater-only
dpkg-deb -x "$updater_deb" "$updater_only"
installed=$scratch/root
dpkg-deb -x "$updater_deb" "$installed"
dpkg-deb -x "$simulator_deb" "$installed"

echo "== package: contents"
updater_files=$(dpkg-deb -c "$updater_deb")
simulator_files=$(dpkg-deb -c "$simulator_deb")
grep -q '/GPlusUSBLibEx\.so$' <<<"$updater_files" &&
  fail "the updater package carries the simulated library"
grep -q '/usr/lib/scribolante-fw-updater/GPlusUSBLibEx\.so$' <<<"$simulator_files" ||
  fail "the simulator package does not carry GPlusUSBLibEx.so"
# Nothing installed may name the folders the packages were built from or in.
for folder in "$root" "$build_dir"; do
  if grep -rlF "$folder" "$installed" >/dev/null; then
    grep -rlF "$folder" "$installed" >&2
    fail "installed files name $folder"
  fi
done

echo "== package: desktop entry and software-centre entry"
desktop_entry=$installed/usr/share/applications/FWUpdater.AppID.NoVersion.desktop
desktop-file-validate "$desktop_entry"
grep -qx 'Exec=scribolante-fw-updater %f' "$desktop_entry" ||
  fail "the desktop entry does not start the launcher by name with a file"
appstreamcli validate --no-net "$installed"/usr/share/metainfo/*.metainfo.xml

echo "== package: the firmware file type"
# The databases that the packages' installation updates (through the triggers of
# shared-mime-info and desktop-file-utils), built here from the unpacked files alone.
mime_dir=$scratch/mime
mkdir -p "$mime_dir/packages" "$scratch/applications"
cp "$installed"/usr/share/mime/packages/scribolante-fw-updater.xml "$mime_dir/packages/"
cp /usr/share/mime/packages/freedesktop.org.xml "$mime_dir/packages/"
update-mime-database "$mime_dir" 2>/dev/null
cp "$desktop_entry" "$scratch/applications/"
update-desktop-database "$scratch/applications"
grep -qF ':application/x-scribolante-firmware:*SC5_Firmware_v[0-9].[0-9]*.bin' "$mime_dir/globs2" ||
  fail "the firmware file type's glob did not reach the MIME database"
# What a file manager asks: the type of a firmware file, and the application for that type.
probe="$scratch/probe/SC5_Firmware_v1.3 (1).bin"
mkdir -p "$(dirname "$probe")"
head -c 4096 /dev/zero >"$probe"
export_data="XDG_DATA_HOME=$scratch/no-home XDG_DATA_DIRS=$scratch:/usr/share PATH=$installed/usr/bin:$PATH"
probe_type=$(env $export_data gio info -a standard::content-type "$probe" | sed -n 's/^ *standard::content-type: //p')
[ "$probe_type" = application/x-scribolante-firmware ] ||
  fail "a firmware file has the type '$probe_type'"
handlers=$(env $export_data gio mime application/x-scribolante-firmware)
grep -q 'FWUpdater.AppID.NoVersion.desktop' <<<"$handlers" ||
  fail "no application opens application/x-scribolante-firmware"

echo "== package: lintian"
lintian --fail-on error,warning --display-info --pedantic "$updater_deb" "$simulator_deb"

echo "== package: the installed program"
launcher=$installed/usr/bin/scribolante-fw-updater
version_line=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$launcher" --version) ||
  fail "--version failed"
echo "$version_line"
case "$version_line" in
  *"SCRIBOLANTE X FW Updater"*" $(dpkg-deb -f "$updater_deb" Version)"*) ;;
  *) fail "--version printed '$version_line'" ;;
esac

# Without the simulator there is no vendor library: the updater says it cannot connect and
# ends without an update.
mkdir -p "$scratch/no-library"
head -c 1024 /dev/zero >"$scratch/no-library/SC5_Firmware_v1.3.bin"
FWU_DEMO_TIME_LIMIT=60 "$root/scripts/demo-headless.sh" \
  "$updater_only/usr/bin/scribolante-fw-updater" "$scratch/no-library" no-library

# One whole update from the installed copy, against a quick simulated device; the firmware file
# sits in another folder than the working folder and is named on the command line.
run=$scratch/run
mkdir -p "$run/work" "$run/firmware"
head -c $((1024 * 1024)) /dev/urandom >"$run/firmware/SC5_Firmware_v1.3.bin"
cat >"$run/one-device.scenario" <<'SCENARIO'
list 1 PACKAGE-CHECK
info status 0
info version 1 0
SCENARIO
GPLUS_SIM_SCENARIO=$run/one-device.scenario FWU_DEMO_TIME_LIMIT=120 \
  "$root/scripts/demo-headless.sh" "$launcher" "$run/work" update "$run/firmware/SC5_Firmware_v1.3.bin"
echo "== package: all checks passed"

#!/usr/bin/env bash
# Checks the Debian packages that scripts/package.sh made: validates the desktop entry, the
# software-centre entry and the udev rule, runs lintian (errors and warnings fail), makes sure
# the program carries no test switch, installs and removes the packages with dpkg in a scratch
# root around a stand-in for the maker's library (which must come through byte for byte),
# unpacks both packages into a scratch root, and from that installed copy prints the version
# and runs one whole update under Xvfb through the simulator's launcher, the firmware file given
# as an argument from another folder. Settings and update history go to the scratch folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$root/build-release}
packages=$build_dir/packages

shopt -s nullglob
updater_debs=("$packages"/scribolante-fw-updater_*.deb)
simulator_debs=("$packages"/scribolante-fw-updater-simulator_*.deb)
dev_debs=("$packages"/scribolante-fw-updater-dev_*.deb)
shopt -u nullglob
if [ ${#updater_debs[@]} -ne 1 ] || [ ${#simulator_debs[@]} -ne 1 ] || [ ${#dev_debs[@]} -ne 1 ]; then
  echo "check-package: expected one updater, one simulator and one -dev package in $packages" >&2
  exit 1
fi
updater_deb=${updater_debs[0]} simulator_deb=${simulator_debs[0]} dev_deb=${dev_debs[0]}

fail() {
  echo "check-package: $*" >&2
  exit 1
}

scratch=$(mktemp -d /tmp/fwu-package-check.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
export XDG_STATE_HOME=$scratch/state XDG_CONFIG_HOME=$scratch/config XDG_CACHE_HOME=$scratch/cache
# The installed program's sleep lock and dock progress reach no bus of the machine's.
export DBUS_SESSION_BUS_ADDRESS=disabled: DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent
# The updater alone, as a user installs it for a real device, and with the simulator added.
updater_only=$scratch/updater-only
dpkg-deb -x "$updater_deb" "$updater_only"
installed=$scratch/root
dpkg-deb -x "$updater_deb" "$installed"
dpkg-deb -x "$simulator_deb" "$installed"

echo "== package: contents"
# The paths each package installs, one a line.
package_paths() { dpkg-deb --fsys-tarfile "$1" | tar -t | sed 's|^\./|/|; s|/$||'; }
updater_files=$(package_paths "$updater_deb")
simulator_files=$(package_paths "$simulator_deb")
program_dir=/usr/lib/scribolante-fw-updater
maker_library=$program_dir/GPlusUSBLibEx.so
grep -qx "$maker_library" <<<"$updater_files"$'\n'"$simulator_files" &&
  fail "a package carries $maker_library, the place of the maker's library"
grep -q '/GPlusUSBLibEx\.so$' <<<"$updater_files" &&
  fail "the updater package carries a GPlusUSBLibEx.so"
for file in $program_dir/simulator/GPlusUSBLibEx.so $program_dir/simulator/FWUpdater \
            /usr/bin/scribolante-fw-updater-simulator \
            /usr/share/scribolante-fw-updater/scenarios/default.scenario; do
  grep -qx "$file" <<<"$simulator_files" || fail "the simulator package does not carry $file"
done
# The simulator offers only what it can play: the normal-mode device needs the system's list.
grep -q '/scenarios/normal-mode\.scenario$' <<<"$simulator_files" &&
  fail "the simulator package offers the normal-mode scenario, which it cannot play"
udev_rule=/lib/udev/rules.d/60-scribolante-fw-updater.rules
grep -qx "$udev_rule" <<<"$updater_files" || fail "the updater package does not carry $udev_rule"
dev_files=$(package_paths "$dev_deb")
for file in /usr/include/scribolante-fw-updater/vendor_interfaces.h \
            /usr/include/scribolante-fw-updater/vendor_call_values.h \
            /usr/share/doc/scribolante-fw-updater-dev/VENDOR-LIBRARY.md; do
  grep -qx "$file" <<<"$dev_files" || fail "the -dev package does not carry $file"
done
grep -q '/GPlusUSBLibEx\.so$' <<<"$dev_files" && fail "the -dev package carries a GPlusUSBLibEx.so"
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

echo "== package: the udev rule"
# The rule opens the device the program looks for, as a USB device and as hidraw nodes, to the
# user at the seat.
device_id() {
  sed -n "s/^set(FWU_DEVICE_USB_${1}_ID \([0-9A-F]\{4\}\))$/\1/p" "$root/usb/device_ids.cmake" |
    tr A-F a-f
}
vendor_id=$(device_id VENDOR) product_id=$(device_id PRODUCT)
for match in 'SUBSYSTEM=="usb", .*ATTR' 'SUBSYSTEM=="hidraw", .*ATTRS'; do
  grep -q "^$match{idVendor}==\"$vendor_id\", .*{idProduct}==\"$product_id\", TAG+=\"uaccess\"$" \
    "$installed$udev_rule" || fail "the udev rule lacks $match for $vendor_id:$product_id with uaccess"
done

echo "== package: lintian"
lintian --fail-on error,warning --display-info --pedantic "$updater_deb" "$simulator_deb" "$dev_deb"

echo "== package: no test switches in the shipped program"
# The names the test switches are read by, as the source names them; a plain build compiles
# none of them in, so none may appear in either copy of the installed program.
switches=$(grep -o '"FWU_[A-Z_]*"' "$root/platform/test_switches.cpp" | tr -d '"' | sort -u)
[ -n "$switches" ] || fail "no test switch names found in platform/test_switches.cpp"
for program in "$installed$program_dir/FWUpdater" "$installed$program_dir/simulator/FWUpdater"; do
  for switch in $switches; do
    grep -qaF "$switch" "$program" && fail "$program carries the test switch $switch"
  done
done

echo "== package: the maker's library survives installing and removing the packages"
# dpkg itself, in a scratch root of its own, around a stand-in for the maker's library that
# the user put where the package description says. The packages have no maintainer scripts,
# so the libraries they depend on need not be there.
dpkg_root=$scratch/dpkg-root
mkdir -p "$dpkg_root/var/lib/dpkg/info" "$dpkg_root/var/lib/dpkg/updates"
touch "$dpkg_root/var/lib/dpkg/status"
in_root() {
  local output
  output=$(dpkg --root="$dpkg_root" --log=/dev/null --force-not-root --force-depends "$@" 2>&1) || {
    echo "$output" >&2
    fail "dpkg $* failed"
  }
}
in_root --install "$updater_deb"
head -c 65536 /dev/urandom >"$dpkg_root$maker_library"
maker_sum=$(sha256sum <"$dpkg_root$maker_library")
expect_maker_library() {
  [ -f "$dpkg_root$maker_library" ] || fail "the maker's library is gone after $1"
  [ "$(sha256sum <"$dpkg_root$maker_library")" = "$maker_sum" ] ||
    fail "the maker's library changed on $1"
}
in_root --install "$simulator_deb"
expect_maker_library "installing the simulator"
[ -x "$dpkg_root/usr/bin/scribolante-fw-updater-simulator" ] || fail "the simulator did not install"
in_root --remove scribolante-fw-updater-simulator
expect_maker_library "removing the simulator"
in_root --install "$simulator_deb"
in_root --purge scribolante-fw-updater-simulator scribolante-fw-updater
expect_maker_library "purging both packages"

echo "== package: the installed program"
launcher=$installed/usr/bin/scribolante-fw-updater
version_line=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$launcher" --version) ||
  fail "--version failed"
echo "$version_line"
case "$version_line" in
  *"SCRIBOLANTE X FW Updater"*" $(dpkg-deb -f "$updater_deb" Version)"*) ;;
  *) fail "--version printed '$version_line'" ;;
esac
# A bad command line is answered before any display is asked for: one line, status 2.
status=0
bogus_output=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb timeout 20 "$launcher" --bogus 2>&1) ||
  status=$?
[ "$status" -eq 2 ] && [ "$(wc -l <<<"$bogus_output")" -eq 1 ] ||
  fail "--bogus without a display answered $status with: $bogus_output"
# A start where no window can be opened ends with one line and status 2, never an abort: no
# display at all, a display whose server is not there, and a refused FILE name (its own line,
# then that one).
mkdir -p "$scratch/no-display"
touch "$scratch/no-display/firmware.bin"
no_display() {
  (cd "$scratch/no-display" &&
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_SESSION_TYPE -u WAYLAND_SOCKET \
      "$@")
}
for start in "1 no_display timeout 20 $launcher" \
             "1 no_display DISPLAY=:4093 QT_QPA_PLATFORM=xcb timeout 20 $launcher" \
             "2 no_display timeout 20 $launcher firmware.bin"; do
  read -r lines command <<<"$start"
  status=0
  output=$($command 2>&1) || status=$?
  [ "$status" -eq 2 ] && [ "$(wc -l <<<"$output")" -eq "$lines" ] &&
    grep -q -e 'ウィンドウを開けません' -e 'No window can be opened' <<<"$output" ||
    fail "'${command#no_display }' without a usable display answered $status with: $output"
done
# The simulator's launcher lists every option it and the updater take.
simulator_help=$(timeout 20 "$installed/usr/bin/scribolante-fw-updater-simulator" --help)
for option in --scenario --record --version --help; do
  grep -q -- "$option" <<<"$simulator_help" || fail "the simulator's --help does not list $option"
done

# The installed conformance check accepts the simulated library, with one device listed, and
# finds nothing to load where the maker's library belongs in the updater-only install.
GPLUS_SIM_SCENARIO=$root/simdevice/scenarios/default.scenario \
  "$installed/usr/bin/scribolante-fw-updater-check-library" \
  "$installed$program_dir/simulator/GPlusUSBLibEx.so" >"$scratch/check-library.tap" ||
  { cat "$scratch/check-library.tap" >&2; fail "the installed check-library refused the simulated library"; }
tail -n 1 "$scratch/check-library.tap"
status=0
"$updater_only/usr/bin/scribolante-fw-updater-check-library" >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || fail "check-library without the maker's library answered $status, not 2"

# Without the simulator there is no vendor library: the updater says it cannot connect and
# ends without an update.
mkdir -p "$scratch/no-library"
head -c 1024 /dev/zero >"$scratch/no-library/SC5_Firmware_v1.3.bin"
FWU_DEMO_TIME_LIMIT=60 "$root/scripts/demo-headless.sh" \
  "$updater_only/usr/bin/scribolante-fw-updater" "$scratch/no-library" no-library

# One whole update from the installed copy through the simulator's launcher, against a quick
# simulated device; the firmware file sits in another folder than the working folder and is
# named on the command line, before the launcher's own option.
run=$scratch/run
mkdir -p "$run/work" "$run/firmware"
# A browser's second download of 1.3 beside an older image: the file named is the one written.
head -c $((1024 * 1024)) /dev/urandom >"$run/firmware/SC5_Firmware_v1.3 (1).bin"
head -c $((512 * 1024)) /dev/urandom >"$run/firmware/SC5_Firmware_v1.2.bin"
cat >"$run/one-device.scenario" <<'SCENARIO'
list 1 PACKAGE-CHECK
info status 0
info version 1 0
SCENARIO
FWU_DEMO_TIME_LIMIT=120 "$root/scripts/demo-headless.sh" "$installed/usr/bin/scribolante-fw-updater-simulator" \
  "$run/work" update "$run/firmware/SC5_Firmware_v1.3 (1).bin" --scenario "$run/one-device.scenario"
grep -q 'the devices are simulated' "$run/work/updater.log" ||
  fail "the simulator's launcher did not say that the devices are simulated"
grep -qP '\tSC5_Firmware_v1\.3 \(1\)\.bin\t1048576\t.*\tcompleted$' \
  "$XDG_STATE_HOME/scribolante-fw-updater/history.log" ||
  fail "the history has no completed update of the named file in the scratch state folder"
echo "== package: all checks passed"

#!/usr/bin/env bash
# Builds the Debian packages from a Release build: scribolante-fw-updater and
# scribolante-fw-updater-simulator, into <build-dir>/packages/.
# Usage: scripts/package.sh [build-dir]   (default: build-release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$root/build-release}

# The date the changelog, the software-centre entry and the manual pages carry: the time of the
# last commit unless SOURCE_DATE_EPOCH is given, so that one commit always makes the same dates.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH

"$root/scripts/build.sh" "$build_dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DFWU_BUILD_TESTS=OFF -DFWU_BUILD_BENCHMARKS=OFF -DFWU_TEST_SWITCHES=OFF -DFWU_HARDENING=ON
rm -rf "$build_dir/packages"
# fakeroot gives the packed files root as their owner without running as root.
(cd "$build_dir" && fakeroot cpack -G DEB)
ls "$build_dir"/packages/*.deb

#!/usr/bin/env bash
# Configures and builds the updater, its simulated vendor library and its tests.
# Usage: scripts/build.sh [build-dir] [extra cmake options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$root/build}
shift || true

cmake -S "$root" -B "$build_dir" -G Ninja "$@" >/dev/null
# Qt's moc step keeps a timestamp that a source file added since the last build does not
# outdate, so a new class with signals would link without its moc code. Dropping the
# timestamps makes the step look at every file again; it re-runs moc only where needed.
find "$build_dir" -path '*_autogen/timestamp' -type f -delete
cmake --build "$build_dir"

#!/usr/bin/env bash
# Builds and runs every test: a plain build, then AddressSanitizer+UBSan and ThreadSanitizer
# builds, then a short run of every fuzz target (clang's libFuzzer), then the Debian packages
# are built, checked and tried from an unpacked copy. No display is needed: Qt runs offscreen,
# and the installed package runs under Xvfb.
# Usage: scripts/test.sh [plain|address|thread|fuzz|package|all]   (default: all)
# FWU_FUZZ_SECONDS sets the time per fuzz target (default 15: a smoke run; scripts/fuzz.sh alone
# runs longer).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
which=${1:-all}

"$root/scripts/install-deps.sh"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

# Compiler flags of the test builds. Line tables (-g1) are all a failure's stack needs, and cost a
# fraction of full debug information to compile and link; the sanitizer builds take -O1, as the
# sanitizers themselves advise, the plain build the optimisation users get.
plain_flags="-O2 -g1 -DNDEBUG"
sanitizer_flags="-O1 -g1 -DNDEBUG"

run_suite() {
  local name=$1 build_dir=$2 flags=$3
  shift 3
  echo "== $name: building in $build_dir"
  # The tests steer the program through its test switches (compiled in only on request).
  "$root/scripts/build.sh" "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags" -DFWU_TEST_SWITCHES=ON "$@"
  echo "== $name: running the tests"
  local runner=()
  # ThreadSanitizer cannot map its shadow memory on kernels with wide address randomisation;
  # running without randomisation avoids that where the system allows it.
  if [ "$name" = thread ] && setarch "$(uname -m)" -R true 2>/dev/null; then
    runner=(setarch "$(uname -m)" -R)
  fi
  "${runner[@]}" ctest --test-dir "$build_dir" --output-on-failure -j2 --timeout 300
}

run_package() {
  echo "== package: building the Debian packages in $root/build-release"
  "$root/scripts/package.sh" "$root/build-release"
  # The packaged program runs with a real (virtual) display, not offscreen.
  env -u QT_QPA_PLATFORM "$root/scripts/check-package.sh" "$root/build-release"
}

case "$which" in
  plain) run_suite plain "$root/build" "$plain_flags" ;;
  address) run_suite address "$root/build-asan" "$sanitizer_flags" -DFWU_SANITIZE=address -DFWU_BUILD_BENCHMARKS=OFF ;;
  thread) run_suite thread "$root/build-tsan" "$sanitizer_flags" -DFWU_SANITIZE=thread -DFWU_BUILD_BENCHMARKS=OFF ;;
  fuzz) "$root/scripts/fuzz.sh" "${FWU_FUZZ_SECONDS:-15}" ;;
  package) run_package ;;
  all)
    run_suite plain "$root/build" "$plain_flags"
    run_suite address "$root/build-asan" "$sanitizer_flags" -DFWU_SANITIZE=address -DFWU_BUILD_BENCHMARKS=OFF
    run_suite thread "$root/build-tsan" "$sanitizer_flags" -DFWU_SANITIZE=thread -DFWU_BUILD_BENCHMARKS=OFF
    echo "== fuzz: building and running every fuzz target"
    "$root/scripts/fuzz.sh" "${FWU_FUZZ_SECONDS:-15}"
    run_package
    ;;
  *) echo "usage: $0 [plain|address|thread|fuzz|package|all]" >&2; exit 2 ;;
esac
echo "== all requested test runs passed"

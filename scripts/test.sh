#!/usr/bin/env bash
# Builds and runs every test: a plain build, then AddressSanitizer+UBSan and ThreadSanitizer
# builds, then a short run of every fuzz target (clang's libFuzzer), then the Debian packages
# are built, checked and tried from an unpacked copy. No display is needed: Qt runs offscreen,
# and the installed package runs under Xvfb. Run as root, the plain part also runs the two
# cases about unreadable files as the user nobody.
# Usage: scripts/test.sh [plain|address|thread|fuzz|package|all]   (default: all)
# FWU_FUZZ_SECONDS sets the time per fuzz target (default 15: a smoke run; scripts/fuzz.sh alone
# runs longer).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
which=${1:-all}

"$root/scripts/install-deps.sh"

export QT_QPA_PLATFORM=offscreen
# Whatever runs here keeps its settings and update history in a scratch folder, never in the
# home of whoever runs the tests (each script and the test suite also see to that).
scratch_home=$(mktemp -d /tmp/fwu-test-home.XXXXXX)
export XDG_STATE_HOME=$scratch_home/state XDG_CONFIG_HOME=$scratch_home/config
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

# Compiler flags of the test builds. Line tables (-g1) are all a failure's stack needs, and cost
# a fraction of full debug information to compile and link. The plain build takes GCC, as the
# package does, and the optimisation users get. The AddressSanitizer build takes clang,
# unoptimised: a second compiler's view of the code, in under half the time of GCC at -O1, and
# no access is optimised away from the sanitizer; the tests mostly wait on processes and
# timers, so the slower code costs them little. ThreadSanitizer stays with GCC at -O1: clang's
# runtime reports the image work Qt hands to its own thread pool as racing, as it cannot see
# the locks inside Qt's uninstrumented libraries.
plain_flags="-O2 -g1 -DNDEBUG"
address_flags="-O0 -g1 -DNDEBUG"
thread_flags="-O1 -g1 -DNDEBUG"

# Most test cases wait on a child process, a timer or a simulated device rather than compute,
# so ctest runs more of them at once than there are processors. Cases that take the system's
# single-instance name hold a resource lock, so they still run one at a time.
test_jobs=6

started=$SECONDS
stage() { echo "== $* (at $((SECONDS - started)) s)"; }

build_suite() {
  local name=$1 build_dir=$2 flags=$3
  shift 3
  stage "$name: building in $build_dir"
  # The tests steer the program through its test switches (compiled in only on request).
  "$root/scripts/build.sh" "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags" -DFWU_TEST_SWITCHES=ON "$@"
}

# Sets test_command to the command that runs one build's tests.
set_test_command() {
  local name=$1 build_dir=$2
  test_command=()
  # ThreadSanitizer cannot map its shadow memory on kernels with wide address randomisation;
  # running without randomisation avoids that where the system allows it.
  if [ "$name" = thread ] && setarch "$(uname -m)" -R true 2>/dev/null; then
    test_command=(setarch "$(uname -m)" -R)
  fi
  # A build without a single test is a failure, not a pass.
  test_command+=(ctest --test-dir "$build_dir" --output-on-failure -j"$test_jobs" --no-tests=error)
}

# The tests of one build run in the background while the next build compiles: they mostly
# wait, the compiler does not. Only one suite runs at a time, because the cases that take the
# system's single-instance name are kept apart only within one ctest run.
background_name=""
background_pid=""
background_log=""

start_tests() {
  local name=$1 build_dir=$2
  stage "$name: running the tests (in the background; output follows when they end)"
  background_name=$name
  background_log="$build_dir/test-output.log"
  set_test_command "$name" "$build_dir"
  # A session of its own, so that stopping it reaches every test process.
  setsid "${test_command[@]}" >"$background_log" 2>&1 &
  background_pid=$!
}

finish_tests() {
  [ -n "$background_pid" ] || return 0
  local status=0
  wait "$background_pid" || status=$?
  background_pid=""
  cat "$background_log"
  if [ "$status" -ne 0 ]; then
    echo "== $background_name: tests FAILED (exit $status)" >&2
    exit "$status"
  fi
  stage "$background_name: tests passed"
}

stop_background() {
  if [ -n "$background_pid" ]; then kill -- "-$background_pid" 2>/dev/null || true; fi
  rm -rf "$scratch_home"
}
trap stop_background EXIT

# Two cases check how unreadable files are reported, which root can read anyway: they skip
# when the tests run as root. Here they run as the unprivileged user nobody, from a copy of
# their test programs in a folder that user can reach, and must pass rather than skip.
unprivileged_cases=(
  "app_tests CommandLineTest.PathsThatCannotBeUsedAreRefusedWithOneLine"
  "update_tests FirmwareImageTest.FileWithoutReadPermissionIsReported"
)
run_unprivileged_cases() {
  local build_dir=$1
  [ "$(id -u)" -eq 0 ] || return 0
  stage "plain: the permission cases as the user nobody"
  local folder entry program name output
  folder=$(mktemp -d /tmp/fwu-unprivileged.XXXXXX)
  for entry in "${unprivileged_cases[@]}"; do
    read -r program name <<<"$entry"
    cp "$build_dir/bin/$program" "$folder/"
  done
  chown nobody:nogroup "$folder"
  for entry in "${unprivileged_cases[@]}"; do
    read -r program name <<<"$entry"
    output=$(cd "$folder" && setpriv --reuid=nobody --regid=nogroup --clear-groups \
               env HOME="$folder" TMPDIR="$folder" XDG_STATE_HOME="$folder" XDG_CONFIG_HOME="$folder" \
               XDG_CACHE_HOME="$folder" "$folder/$program" --gtest_filter="$name" 2>&1) || {
      echo "$output"
      rm -rf "$folder"
      echo "== plain: $name FAILED as the user nobody" >&2
      exit 1
    }
    if ! grep -qF "[       OK ] $name" <<<"$output"; then
      echo "$output"
      rm -rf "$folder"
      echo "== plain: $name did not run as the user nobody" >&2
      exit 1
    fi
  done
  rm -rf "$folder"
}

run_suite() {
  local name=$1 build_dir=$2
  build_suite "$@"
  stage "$name: running the tests"
  set_test_command "$name" "$build_dir"
  "${test_command[@]}"
}

build_package() {
  stage "package: building the Debian packages in $root/build-release"
  "$root/scripts/package.sh" "$root/build-release"
}

check_package() {
  # The packaged program runs with a real (virtual) display, not offscreen.
  env -u QT_QPA_PLATFORM "$root/scripts/check-package.sh" "$root/build-release"
}

run_fuzz() {
  stage "fuzz: building and running every fuzz target"
  "$root/scripts/fuzz.sh" "${FWU_FUZZ_SECONDS:-15}"
}

address_options=(-DCMAKE_CXX_COMPILER=clang++ -DFWU_SANITIZE=address -DFWU_BUILD_BENCHMARKS=OFF)
thread_options=(-DFWU_SANITIZE=thread -DFWU_BUILD_BENCHMARKS=OFF)

case "$which" in
  plain)
    run_suite plain "$root/build" "$plain_flags" -DFWU_BUILD_BENCHMARKS=ON
    run_unprivileged_cases "$root/build"
    ;;
  address) run_suite address "$root/build-asan" "$address_flags" "${address_options[@]}" ;;
  thread) run_suite thread "$root/build-tsan" "$thread_flags" "${thread_options[@]}" ;;
  fuzz) run_fuzz ;;
  package) build_package && check_package ;;
  all)
    build_suite plain "$root/build" "$plain_flags" -DFWU_BUILD_BENCHMARKS=ON
    start_tests plain "$root/build"
    build_suite address "$root/build-asan" "$address_flags" "${address_options[@]}"
    finish_tests
    run_unprivileged_cases "$root/build"
    start_tests address "$root/build-asan"
    build_suite thread "$root/build-tsan" "$thread_flags" "${thread_options[@]}"
    finish_tests
    start_tests thread "$root/build-tsan"
    run_fuzz
    build_package
    finish_tests
    # The installed program takes the system's single-instance name: after every suite.
    check_package
    "$root/scripts/wayland-check.sh" "$root/build"
    ;;
  *) echo "usage: $0 [plain|address|thread|fuzz|package|all]" >&2; exit 2 ;;
esac
stage "all requested test runs passed"

#!/usr/bin/env bash
# Builds and runs the whole test suite, the way CI does (.ci/run calls this):
#   release  optimised build of everything (benchmarks too), then the suite
#   asan     the suite under AddressSanitizer + UndefinedBehaviorSanitizer
#   ppc64    the suite cross-built for big-endian 64-bit PowerPC, run under qemu
#   fuzz     the libFuzzer targets sharing one time budget (scripts/fuzz.sh)
#   tsan     the threaded suites (tests/tsan_suites.txt) under ThreadSanitizer
# Every step runs even when an earlier one fails, so one log shows all faults;
# the script exits non-zero if any step failed.
#
#   bash scripts/test.sh              all steps
#   bash scripts/test.sh asan ppc64   only the steps named
#
# PROXY_JOBS sets build and test parallelism (default: the CPUs we may use),
# PROXY_TEST_TIMEOUT the seconds one test may take before CTest kills it.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

ALL_STEPS=(release asan ppc64 fuzz tsan)
# Further steps go here: add a step_<name> function below and its name to
# ALL_STEPS.

JOBS=${PROXY_JOBS:-$(nproc)}
TEST_TIMEOUT=${PROXY_TEST_TIMEOUT:-120}

banner() {
  echo
  echo "=================================================================="
  echo "== $*"
  echo "=================================================================="
}

# timed <label> <command...>: runs the command and says how long it took.
timed() {
  local label=$1 start=$SECONDS rc
  shift
  "$@"
  rc=$?
  echo ">> $label: $((SECONDS - start))s (exit $rc)"
  return $rc
}

# configure <build dir> <cmake args...>
configure() {
  local dir=$1; shift
  timed configure cmake -S "$ROOT" -B "$dir" "$@"
}

build() {
  timed build cmake --build "$1" -j "$JOBS"
}

# run_ctest <build dir> <parallel jobs>: also keeps CTest's output in
# <build dir>/ctest.log for the counts in the final summary.
run_ctest() {
  local dir=$1 jobs=$2
  timed ctest ctest_in "$dir" "$jobs"
}

# ctest_in <build dir> <parallel jobs> [more ctest arguments]
ctest_in() {
  local dir=$1 jobs=$2
  shift 2
  (cd "$dir" && ctest --output-on-failure --no-tests=error \
      --timeout "$TEST_TIMEOUT" -j "$jobs" "$@") 2>&1 | tee "$dir/ctest.log"
}

step_release() {
  local dir=build/ci-release
  configure "$dir" -DCMAKE_BUILD_TYPE=Release -DPROXY_TEST_CXX_FLAGS= -DPROXY_SANITIZE=OFF \
      -DPROXY_BUILD_TESTS=ON -DPROXY_BUILD_BENCH=ON || return 1
  build "$dir" || return 1
  run_ctest "$dir" "$JOBS"
}

step_asan() {
  local dir=build/ci-asan
  # Debug keeps assertions on. The library runs at -O1 so the instrumented
  # suite stays quick; the test programs themselves at -O0, since optimising
  # instrumented test code doubles the build time and buys nothing. -g1
  # (line tables only) gives stack traces their lines at half the compile
  # time of full debug information.
  configure "$dir" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
      -DPROXY_TEST_CXX_FLAGS=-O0 -DPROXY_SANITIZE=ON \
      -DPROXY_BUILD_TESTS=ON -DPROXY_BUILD_BENCH=OFF || return 1
  build "$dir" || return 1
  ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:abort_on_error=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      run_ctest "$dir" "$JOBS"
}

step_ppc64() {
  local dir=build/ci-ppc64
  # Assertions on, -O1 and no debug information: the cross compile is a
  # third of the whole run, and under qemu the tests' time goes into starting
  # processes rather than into the code, so -O2/-O3 would buy nothing.
  configure "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-ppc64.cmake" \
      -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1" -DPROXY_TEST_CXX_FLAGS= \
      -DPROXY_SANITIZE=OFF -DPROXY_BUILD_TESTS=ON -DPROXY_BUILD_BENCH=OFF || return 1
  build "$dir" || return 1
  # Make sure the suite really is big-endian PowerPC, not a host build that
  # slipped through.
  local bin found=0
  for bin in "$dir"/tests/*_tests; do
    [[ -f "$bin" ]] || continue
    found=1
    if ! readelf -h "$bin" | grep -q 'big endian' ||
       ! readelf -h "$bin" | grep -q 'PowerPC64'; then
      echo "ppc64: $bin is not a big-endian PowerPC64 binary:" >&2
      file "$bin" >&2
      return 1
    fi
  done
  if [[ $found -eq 0 ]]; then
    echo "ppc64: no test binaries under $dir/tests" >&2
    return 1
  fi
  file "$dir"/tests/*_tests
  run_ctest "$dir" "$JOBS"
}

step_fuzz() {
  # Every fuzz target, sharing FUZZ_BUDGET_SECONDS (default 120) evenly.
  bash "$ROOT/scripts/fuzz.sh"
}

# The areas named in tests/tsan_suites.txt, one per line; blank lines and
# "#" comments are skipped. Fails on a name without a tests/<area> folder.
tsan_areas() {
  local list="$ROOT/tests/tsan_suites.txt" line area
  [[ -f "$list" ]] || { echo "tsan: $list is missing" >&2; return 1; }
  while IFS= read -r line || [[ -n "$line" ]]; do
    area=${line%%#*}
    area=$(tr -d '[:space:]' <<<"$area")
    [[ -n "$area" ]] || continue
    if [[ ! -d "$ROOT/tests/$area" ]]; then
      echo "tsan: tests/tsan_suites.txt names '$area', but there is no tests/$area" >&2
      return 1
    fi
    echo "$area"
  done <"$list"
}

step_tsan() {
  local dir=build/ci-tsan areas
  areas=$(tsan_areas) || return 1
  areas=$(sort -u <<<"$areas")
  if [[ -z "$areas" ]]; then
    echo "tsan: tests/tsan_suites.txt names no area" >&2
    return 1
  fi
  echo "tsan areas: $(tr '\n' ' ' <<<"$areas")"
  local targets=() regex=""
  local area
  for area in $areas; do
    targets+=("${area}_tests")
    regex+="${regex:+|}$area"
  done
  # Debug keeps assertions on; -O1 -g1 as in the asan step.
  configure "$dir" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
      -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
      -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread -DPROXY_TEST_CXX_FLAGS= -DPROXY_SANITIZE=OFF \
      -DPROXY_BUILD_TESTS=ON -DPROXY_BUILD_BENCH=OFF || return 1
  timed build cmake --build "$dir" -j "$JOBS" --target "${targets[@]}" || return 1
  # The first report ends the test process with a failure; a report in a
  # thread the test did not wait for still fails it at exit.
  TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:history_size=4" \
      timed ctest ctest_in "$dir" "$JOBS" -L "^($regex)\$"
}

steps=("$@")
if [[ ${#steps[@]} -eq 0 ]]; then
  steps=("${ALL_STEPS[@]}")
fi
for step in "${steps[@]}"; do
  if ! declare -F "step_$step" >/dev/null; then
    echo "test.sh: unknown step '$step' (steps: ${ALL_STEPS[*]})" >&2
    exit 2
  fi
done

banner "dependencies"
bash "$ROOT/scripts/install-deps.sh" || { echo "test.sh: installing dependencies failed" >&2; exit 1; }
echo "cmake:   $(cmake --version | head -n1)"
echo "g++:     $(g++ --version | head -n1)"
echo "ppc64:   $(powerpc64-linux-gnu-g++ --version | head -n1)"
echo "qemu:    $(qemu-ppc64 --version | head -n1)"
echo "jobs:    $JOBS"

results=()
failed=0
total_start=$SECONDS
for step in "${steps[@]}"; do
  banner "step $step"
  rm -f "build/ci-$step/ctest.log"
  start=$SECONDS
  # A subshell, so one step's working directory or variables cannot leak
  # into the next. The CPU time tells what the step costs on fewer cores.
  TIMEFORMAT=">> $step cpu time: %0Us user + %0Ss system"
  time (step_"$step")
  rc=$?
  took=$((SECONDS - start))
  if [[ $rc -eq 0 ]]; then
    verdict=PASS
  else
    verdict=FAIL
    failed=1
  fi
  echo "== step $step: $verdict in ${took}s"
  results+=("$(printf '%-8s %s %5ss' "$step" "$verdict" "$took")")
done

banner "summary"
tests_passed=0
tests_failed=0
for step in "${steps[@]}"; do
  log="build/ci-$step/ctest.log"
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" 2>/dev/null | tail -n1)
  if [[ -n "$line" ]]; then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    tests_passed=$((tests_passed + total - bad))
    tests_failed=$((tests_failed + bad))
  fi
done
for r in "${results[@]}"; do
  echo "$r"
done
echo "total    $((SECONDS - total_start))s"
if [[ $failed -ne 0 ]]; then
  echo "test.sh: FAILED (see the steps marked FAIL above)"
else
  echo "test.sh: all steps passed"
fi
echo "tests: $tests_passed passed, $tests_failed failed"
exit $failed

#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs them on scratch copies of their seed
# corpora (fuzz/corpus/<target>/; the tree's corpus is never grown), sharing
# one time budget evenly, so that a new target adds no minutes. Exits
# non-zero when any target crashes, leaks, trips a sanitizer, hangs on one
# input, or does not report its final statistics.
#
#   bash scripts/fuzz.sh                     every target
#   bash scripts/fuzz.sh fuzz_file_records   only the targets named
#
# The targets are those of PROXY_FUZZ_TARGETS in fuzz/CMakeLists.txt: a
# target added there is run here without any change to this script.
#
# FUZZ_BUDGET_SECONDS  seconds for all the targets run together (default
#                      120), split evenly; each gets at least 1 second
# PROXY_JOBS           build parallelism (default: the CPUs we may use)
#
# Build directory: build/ci-fuzz (compiled through ccache when present, like
# every build of the project). A failing input is kept under
# build/ci-fuzz/artifacts/<target>/; replay it with
#   build/ci-fuzz/fuzz/<target> <that file>
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

# "name:library" entries between "set(PROXY_FUZZ_TARGETS" and ")".
ALL_TARGETS=()
while read -r name; do
  ALL_TARGETS+=("$name")
done < <(sed -n '/^set(PROXY_FUZZ_TARGETS/,/)/p' fuzz/CMakeLists.txt |
           sed -e 's/set(PROXY_FUZZ_TARGETS//' -e 's/)//' -e 's/#.*//' | tr -s ' \t' '\n' |
           sed -n 's/^\([A-Za-z0-9_]*\):.*/\1/p')
if [[ ${#ALL_TARGETS[@]} -eq 0 ]]; then
  echo "fuzz.sh: no targets found in PROXY_FUZZ_TARGETS of fuzz/CMakeLists.txt" >&2
  exit 2
fi
BUDGET=${FUZZ_BUDGET_SECONDS:-120}
JOBS=${PROXY_JOBS:-$(nproc)}
DIR=build/ci-fuzz

if ! [[ "$BUDGET" =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz.sh: FUZZ_BUDGET_SECONDS must be a positive number of seconds, not '$BUDGET'" >&2
  exit 2
fi

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  targets=("${ALL_TARGETS[@]}")
fi
for target in "${targets[@]}"; do
  if [[ ! " ${ALL_TARGETS[*]} " == *" $target "* ]]; then
    echo "fuzz.sh: unknown target '$target' (targets: ${ALL_TARGETS[*]})" >&2
    exit 2
  fi
done
SECONDS_EACH=$((BUDGET / ${#targets[@]}))
[[ $SECONDS_EACH -ge 1 ]] || SECONDS_EACH=1
echo "fuzz targets: ${targets[*]} (${SECONDS_EACH}s each of a ${BUDGET}s budget)"

# ---------------------------------------------------------------- tools
# clang and its runtime libraries (libFuzzer, the sanitizers), and what the
# configure step needs; only missing packages are installed.
PACKAGES=(clang libclang-rt-14-dev cmake make ccache libboost-dev nlohmann-json3-dev libcli11-dev)
missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg -s "$pkg" 2>/dev/null | grep -q '^Status: install ok installed'; then
    missing+=("$pkg")
  fi
done
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "fuzz.sh: installing ${missing[*]}"
  apt=(env DEBIAN_FRONTEND=noninteractive apt-get -o Acquire::Retries=3)
  if [[ $(id -u) -ne 0 ]]; then
    if ! command -v sudo >/dev/null; then
      echo "fuzz.sh: must run as root (or with sudo) to install: ${missing[*]}" >&2
      exit 1
    fi
    apt=(sudo "${apt[@]}")
  fi
  "${apt[@]}" update || exit 1
  "${apt[@]}" install -y --no-install-recommends "${missing[@]}" </dev/null || exit 1
fi
echo "clang:   $(clang++ --version | head -n1)"

# ---------------------------------------------------------------- build
# Debug keeps assertions on; -O1 keeps the instrumented targets quick.
# Tests and benchmarks are not needed here (the asan step covers them).
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$DIR" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 \
    -DPROXY_SANITIZE=ON -DPROXY_FUZZ=ON -DPROXY_BUILD_TESTS=OFF -DPROXY_BUILD_BENCH=OFF ||
  { echo "fuzz.sh: configure failed" >&2; exit 1; }
cmake --build "$DIR" -j "$JOBS" --target "${targets[@]}" ||
  { echo "fuzz.sh: build failed" >&2; exit 1; }

# ---------------------------------------------------------------- run
scratch=$(mktemp -d "${TMPDIR:-/tmp}/proxy-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

summary=()
failed=0
for target in "${targets[@]}"; do
  echo
  echo "== $target: ${SECONDS_EACH}s"
  corpus="$scratch/$target"
  mkdir -p "$corpus"
  if [[ -d "fuzz/corpus/$target" ]]; then
    cp -r "fuzz/corpus/$target/." "$corpus/"
  fi
  artifacts="$DIR/artifacts/$target"
  rm -rf "$artifacts"
  mkdir -p "$artifacts"
  log="$DIR/$target.log"

  # -timeout: one input taking this long is a hang, reported as a failure.
  "$DIR/fuzz/$target" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -detect_leaks=1 \
      -timeout=10 -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1
  rc=$?

  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -n1)
  [[ -n "$runs" ]] || runs=$(sed -nE 's/^Done ([0-9]+) runs.*/\1/p' "$log" | tail -n1)
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -n1 | sed 's/cov: //')
  # Sanitizer reports that did not stop the run count too.
  reports=$(grep -cE 'ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:|FUZZ_CHECK failed' "$log")
  found=$(find "$artifacts" -type f | wc -l)

  verdict=PASS
  if [[ $rc -ne 0 || -z "$runs" || $reports -ne 0 || $found -ne 0 ]]; then
    verdict=FAIL
    failed=1
    echo "--- $target failed (exit $rc); the end of $log:"
    tail -n 60 "$log"
    if [[ $found -ne 0 ]]; then
      echo "--- inputs kept:"
      find "$artifacts" -type f
    fi
  fi
  line=$(printf 'fuzz: %-22s %s  %10s runs (limit %ss), coverage %s, reports %s, inputs kept %s' \
      "$target" "$verdict" "${runs:-?}" "$SECONDS_EACH" "${cov:-?}" "$reports" "$found")
  echo "$line"
  summary+=("$line")
done

echo
echo "== fuzz summary"
for line in "${summary[@]}"; do
  echo "$line"
done
if [[ $failed -ne 0 ]]; then
  echo "fuzz.sh: FAILED"
else
  echo "fuzz.sh: every target ran clean"
fi
exit $failed

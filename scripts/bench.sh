#!/usr/bin/env bash
# Runs the benchmarks (bench/) and writes one table of their results.
#
#   bash scripts/bench.sh                 every benchmark at full size, five
#                                         alternating rounds each (bench/runs.txt);
#                                         the table goes to stdout and to
#                                         bench-results.md at the source root
#   bash scripts/bench.sh NAME...         only those benchmarks
#   bash scripts/bench.sh --smoke NAME BIN_DIR
#                                         one run at the smallest size (the release
#                                         step's smoke test): fails when the program
#                                         exits non-zero or prints no ratio
#
# Each benchmark prints, beside its own table, one line per measured case:
#   result: <case> | ratio <median> | spread <min>..<max> | base cpu s/GiB <x> | subject cpu s/GiB <y>
# with ratio = baseline time / subject time (above 1: the subject is faster).
# The full run builds build/ci-release first (as scripts/test.sh's release step
# does). Figures on a shared machine are noisy: quote them with their spread.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUNS="$ROOT/bench/runs.txt"

# field <name> <column 2|3>: the arguments of one benchmark from bench/runs.txt.
field() {
  awk -F'|' -v name="$1" -v col="$2" '
    /^[[:space:]]*#/ || NF < 3 { next }
    { n = $1; gsub(/[[:space:]]/, "", n); if (n == name) { v = $col; gsub(/^[[:space:]]+|[[:space:]]+$/, "", v); print v; found = 1 } }
    END { exit found ? 0 : 1 }' "$RUNS"
}

names() {
  awk -F'|' '/^[[:space:]]*#/ || NF < 3 { next } { n = $1; gsub(/[[:space:]]/, "", n); print n }' "$RUNS"
}

if [[ ${1:-} == --smoke ]]; then
  [[ $# -eq 3 ]] || { echo "usage: bench.sh --smoke NAME BIN_DIR" >&2; exit 2; }
  name=$2 bin="$3/$2"
  args=$(field "$name" 2) || { echo "bench.sh: $name is not in bench/runs.txt" >&2; exit 2; }
  out=$(mktemp) || exit 1
  trap 'rm -f "$out"' EXIT
  # shellcheck disable=SC2086 # the arguments are words of the table
  "$bin" $args >"$out" 2>&1
  rc=$?
  cat "$out"
  if [[ $rc -ne 0 ]]; then
    echo "bench.sh: $name exited with $rc" >&2
    exit 1
  fi
  if ! grep -Eq '^result: .*\| ratio [0-9]' "$out"; then
    echo "bench.sh: $name printed no ratio" >&2
    exit 1
  fi
  exit 0
fi

all=$(names)
selected=("$@")
if [[ ${#selected[@]} -eq 0 ]]; then
  mapfile -t selected <<<"$all"
fi
for name in "${selected[@]}"; do
  field "$name" 3 >/dev/null || { echo "bench.sh: $name is not in bench/runs.txt (known: $(tr '\n' ' ' <<<"$all"))" >&2; exit 2; }
done

dir="$ROOT/build/ci-release"
cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DPROXY_TEST_CXX_FLAGS= -DPROXY_SANITIZE=OFF \
    -DPROXY_BUILD_TESTS=ON -DPROXY_BUILD_BENCH=ON >/dev/null || exit 1
cmake --build "$dir" -j "${PROXY_JOBS:-$(nproc)}" --target "${selected[@]}" >/dev/null || exit 1

table=$(mktemp) || exit 1
trap 'rm -f "$table"' EXIT
{
  echo "| benchmark | case | median ratio | spread | base cpu s/GiB | subject cpu s/GiB |"
  echo "| --- | --- | --- | --- | --- | --- |"
} >"$table"
failed=0
for name in "${selected[@]}"; do
  args=$(field "$name" 3)
  echo "== $name $args" >&2
  # shellcheck disable=SC2086
  if ! output=$("$dir/bench/$name" $args 2>&1); then
    echo "$output" >&2
    echo "bench.sh: $name failed" >&2
    echo "| $name | (failed) | | | | |" >>"$table"
    failed=1
    continue
  fi
  echo "$output" >&2
  lines=$(grep -E '^result: ' <<<"$output")
  if [[ -z "$lines" ]]; then
    echo "| $name | (no result) | | | | |" >>"$table"
    failed=1
    continue
  fi
  sed -E "s/^result: (.*) \| ratio (.*) \| spread (.*) \| base cpu s\/GiB (.*) \| subject cpu s\/GiB (.*)$/| $name | \1 | \2 | \3 | \4 | \5 |/" \
      <<<"$lines" >>"$table"
done
{
  echo "# Benchmark results"
  echo
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?'), $(nproc) CPUs; ratio = baseline time / subject time, the median of five alternating rounds."
  echo
  cat "$table"
} >"$ROOT/bench-results.md"
cat "$table"
exit $failed

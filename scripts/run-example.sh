#!/usr/bin/env bash
# Installs what is missing, builds the library and the example host
# (optimised, in build/release), then runs the example host. Arguments are
# passed on to it; without any it runs the scan job:
#   bash scripts/run-example.sh [MODE] [options...]    (--help lists them)
# When the packages are there and the build is newer than every source, it
# goes straight to the example host and prints nothing of its own.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

build=build/release
host=$build/examples/example_host

bash scripts/install-deps.sh --quiet

# Current: configured, built, and no source or build file newer than the host.
build_is_current() {
  [[ -x $host && -f $build/CMakeCache.txt ]] || return 1
  [[ -z $(find CMakeLists.txt cmake src platform sim examples -newer "$host" -print -quit 2>/dev/null) ]]
}

if ! build_is_current; then
  mkdir -p "$build"
  log=$build/run-example-build.log
  echo "run-example: building the library and the example host in $build (log: $log)" >&2
  if ! { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPROXY_SANITIZE=OFF \
           -DPROXY_BUILD_TESTS=OFF -DPROXY_BUILD_BENCH=OFF &&
         cmake --build "$build" -j "${PROXY_JOBS:-$(nproc)}"; } >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "run-example: the build failed; the whole log is $log" >&2
    exit 1
  fi
  # The link may leave the host as it was: mark it built from these sources.
  touch "$host"
fi

if [[ ! -x "$host" ]]; then
  echo "run-example: $host was not built (see $build/run-example-build.log)" >&2
  exit 1
fi
exec "$host" "$@"

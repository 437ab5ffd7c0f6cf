#!/usr/bin/env bash
# Installs what is missing, builds the library and the example host
# (optimised, in build/release), then runs the example host. Arguments are
# passed on to it; without any it runs the scan job:
#   bash scripts/run-example.sh [MODE] [options...]    (--help lists them)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DPROXY_SANITIZE=OFF \
    -DPROXY_BUILD_TESTS=OFF -DPROXY_BUILD_BENCH=OFF
cmake --build build/release -j "${PROXY_JOBS:-$(nproc)}"

host=build/release/examples/example_host
if [[ ! -x "$host" ]]; then
  echo "run-example: $host was not built: examples/ has no example host sources yet" >&2
  exit 1
fi
echo "run-example: $host $*"
exec "$host" "$@"

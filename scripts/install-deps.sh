#!/usr/bin/env bash
# Installs the Debian packages the build and the test suite need, and only
# those that are missing: a machine that has them all is left untouched (no
# apt-get update, no network). Safe to run again and again.
set -euo pipefail

PACKAGES=(
  cmake make g++ libc6-dev binutils          # host build
  libboost-dev nlohmann-json3-dev libcli11-dev  # header-only libraries
  ccache                                     # compiler cache shared by every build step
  openssh-server openssh-client sshpass      # the real ssh hop of the deployment tests
  zlib1g-dev                                 # reference for the project's own crc32
  gzip diffutils                             # the deployment tests' tool stand-ins (crc32, password check)
  googletest                                 # GoogleTest sources, built with each compiler
  g++-powerpc64-linux-gnu libc6-dev-ppc64-cross  # cross build for big-endian ppc64
  qemu-user                                  # runs the ppc64 tests (qemu-ppc64)
  file                                       # tells which machine a binary is for
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
  if [[ "$status" != installed ]]; then
    missing+=("$pkg")
  fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install-deps: all ${#PACKAGES[@]} packages already installed"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
apt=(env DEBIAN_FRONTEND=noninteractive apt-get -o Acquire::Retries=3)
if [[ $(id -u) -ne 0 ]]; then
  if ! command -v sudo >/dev/null; then
    echo "install-deps: must run as root (or with sudo) to install: ${missing[*]}" >&2
    exit 1
  fi
  apt=(sudo "${apt[@]}")
fi
"${apt[@]}" update
"${apt[@]}" install -y --no-install-recommends "${missing[@]}" </dev/null
echo "install-deps: done"

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

# --quiet: say nothing when every package is there.
quiet=
[[ ${1:-} == --quiet ]] && quiet=1

# One query for all of them; a package dpkg does not know is not listed.
declare -A installed=()
while read -r pkg state; do
  [[ $state == installed ]] && installed[$pkg]=1
done < <(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${PACKAGES[@]}" 2>/dev/null || true)
missing=()
for pkg in "${PACKAGES[@]}"; do
  [[ -n ${installed[$pkg]:-} ]] || missing+=("$pkg")
done

# The tests start sshd of their own on loopback: installing the package must
# not leave the system's running. Should it have started all the same, stop
# the one its pid file names (only on installation: a machine's own sshd is
# none of this script's business).
stop_system_sshd() {
  local pid
  pid=$(cat /run/sshd.pid 2>/dev/null || true)
  if [[ -n "$pid" ]] && [[ "$(cat "/proc/$pid/comm" 2>/dev/null)" == sshd ]]; then
    echo "install-deps: stopping the system sshd (pid $pid)"
    ${sudo_cmd} kill "$pid" || true
  fi
}
sudo_cmd=
if [[ $(id -u) -ne 0 ]] && command -v sudo >/dev/null; then
  sudo_cmd=sudo
fi

if [[ ${#missing[@]} -eq 0 ]]; then
  [[ -n $quiet ]] || echo "install-deps: all ${#PACKAGES[@]} packages already installed"
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
# policy-rc.d keeps the packages' services (sshd) from starting while they
# install; one that was there already is left as it is.
policy=/usr/sbin/policy-rc.d
own_policy=
if [[ ! -e $policy ]]; then
  printf '#!/bin/sh\nexit 101\n' | ${sudo_cmd} tee "$policy" >/dev/null && ${sudo_cmd} chmod 755 "$policy" && own_policy=1
fi
status=0
"${apt[@]}" update && "${apt[@]}" install -y --no-install-recommends "${missing[@]}" </dev/null || status=$?
[[ -n $own_policy ]] && ${sudo_cmd} rm -f "$policy"
[[ " ${missing[*]} " == *" openssh-server "* ]] && stop_system_sshd
[[ $status -eq 0 ]] || exit $status
echo "install-deps: done"

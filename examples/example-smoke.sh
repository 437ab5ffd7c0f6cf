#!/usr/bin/env bash
# One smoke run of the example host, as CTest runs it (examples/CMakeLists.txt):
#
#   example-smoke.sh STATUS REGEX TMP [--interrupt STAGE SIGNAL] -- COMMAND...
#
# Runs COMMAND with TMPDIR set to TMP (emptied first). Passes when it exits
# with STATUS, its output (stdout and stderr together) matches REGEX
# (extended, across lines) and holds no sanitizer report, and TMP holds
# nothing but the folders the run said it kept ("kept: PATH" lines).
#
# --interrupt: the run pauses where STAGE starts (PROXY_EXAMPLE_PAUSE_AT)
# and is sent SIGNAL there; then nothing at all may be left in TMP, nor
# the --deploy run's throwaway user, its home, sshd or sshd's folder.
set -uo pipefail

status=$1 regex=$2 tmp=$3
shift 3
stage="" signal=""
if [[ ${1:-} == --interrupt ]]; then
  stage=$2 signal=$3
  shift 3
fi
[[ ${1:-} == -- ]] && shift

rm -rf "$tmp" && mkdir -p "$tmp" || exit 1
out=$tmp.out
running=""
fail() {
  # A run not yet waited for goes with its whole process group (sshd under
  # --deploy included), so that no failed smoke leaves it behind.
  if [[ -n $running ]]; then
    kill -KILL -- -"$running" 2>/dev/null
    wait "$running" 2>/dev/null
  fi
  echo "SMOKE FAILED: $*"
  echo "--- output of: $*"
  cat "$out"
  exit 1
}

if [[ -z $stage ]]; then
  TMPDIR=$tmp "$@" >"$out" 2>&1
  got=$?
else
  # Job control: the run gets its own process group, and SIGINT is not
  # ignored in it as in a plain background job.
  set -m
  TMPDIR=$tmp PROXY_EXAMPLE_PAUSE_AT=$stage "$@" >"$out" 2>&1 &
  pid=$!
  running=$pid
  for _ in $(seq 1 600); do
    grep -q "paused at $stage" "$out" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -q "paused at $stage" "$out" || fail "the run never paused at $stage"
  kill -s "$signal" "$pid"
  wait "$pid"
  got=$?
  running=""
fi
cat "$out"
[[ $got == "$status" ]] || fail "exit status $got, expected $status"
grep -Ezq -- "$regex" "$out" || fail "no match for: $regex"
if grep -Eq 'ERROR: [A-Za-z]+Sanitizer|runtime error:' "$out"; then fail "a sanitizer report"; fi

# What is left must be what the run said it keeps.
kept=$(sed -n 's/^kept: \([^ ]*\) .*/\1/p' "$out")
while IFS= read -r -d '' left; do
  grep -qxF -- "$left" <<<"$kept" || fail "left behind without a word: $left"
done < <(find "$tmp" -mindepth 1 -maxdepth 1 -print0)
if [[ -n $stage ]]; then
  [[ -z $(ls -A "$tmp") ]] || fail "left after the interrupt: $(ls -A "$tmp")"
  ! grep -q "^kx${pid}" /etc/passwd || fail "the throwaway user is left in /etc/passwd"
  ! compgen -G "/tmp/simsshd.${pid}.*" >/dev/null || fail "sshd's folder is left: /tmp/simsshd.${pid}.*"
  ! pgrep -f "simsshd\.${pid}\." >/dev/null || fail "sshd is still running"
fi
rm -rf "$tmp" "$out"
echo "SMOKE PASSED"

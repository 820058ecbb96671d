#!/usr/bin/env bash
# Runs the Windows tests under Wine, one at a time (the agent is a single instance and
# the peers listen on fixed loopback addresses), with one wineserver kept warm.
set -uo pipefail
build=${1:-build/win64}
wineserver -p 120 >/dev/null 2>&1 &
trap 'wineserver -k >/dev/null 2>&1' EXIT
# The first Wine program of a session starts Wine's own services, which inherit its
# output; started here, they hold /dev/null instead of ctest's pipe (which ctest would
# otherwise wait on until its time-out).
wine cmd /c exit </dev/null >/dev/null 2>&1
log="$build/wine-tests.log"
ctest --test-dir "$build" --output-on-failure --no-tests=error --timeout 600 >"$log" 2>&1
rc=$?
# CI keeps only the end of what is printed: the failures' own lines come first, then the summary.
if [ "$rc" -ne 0 ]; then
  grep -E -A8 ': Failure$|^\[  FAILED  \]|Timeout|Exception' "$log" | head -n 120
fi
grep -v -E '^\s+(Start|[0-9]+/[0-9]+ Test)' "$log" | tail -n 12
exit "$rc"

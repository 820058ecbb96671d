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
ctest --test-dir "$build" --output-on-failure --no-tests=error --timeout 600 | grep -v -E '^\s+(Start|[0-9]+/[0-9]+ Test)' | tail -n 40
exit "${PIPESTATUS[0]}"

#!/usr/bin/env bash
# Foundation figures under Wine: the cost of the pause operation and the start-up time.
# Usage: bench/run-foundation.sh   (after `make win64`)
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin="$here/build/win64/bin"
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix} WINEDEBUG=-all
wineserver -p 60 >/dev/null 2>&1 &
trap 'wineserver -k' EXIT
sleep 1
echo "Pause (2000 x 0.001 s, 10 x 0.5 s):"
wine "$bin/bench_agent.exe" pause | sed 's/^/  /'
echo "Start-up, process start to the end of start-up (5 runs):"
for i in 1 2 3 4 5; do wine "$bin/bench_agent.exe" startup "$(echo "Z:$bin/VelmoraSkytrove4.exe" | tr / '\\')"; done | sed 's/^/  /'

#!/usr/bin/env bash
# How fast the agent's window answers a second program while the agent waits, against
# the idle agent in the same run: WM_NULL sent every 100 ms with SendMessageTimeout
# while the agent (a) downloads 200 MB by FTP, (b) downloads 100 MB by HTTP, (c) waits
# 20 s on an HTTP server that accepts and never answers, (d) reads a body trickled at
# 50 KB/s. Prints p50, p99 and the maximum round trip of each.
# Usage: bench/responsiveness.sh   (after `make win64`; BUILD=build/win64)
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$here/build/win64}
bin="$build/bin"
work="$build/bench-respond"
port=${HTTP_BENCH_PORT:-18710}
host=${FTP_BENCH_HOST:-127.0.0.17}
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
  VELMORA_PEER_STATE="$work/peers"
mkdir -p "$work/web" "$work/ftp" "$work/dest"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
val() { tr -d '\r' | grep "^$1 " | awk '{print $2}'; }
ctl() { /usr/bin/python3 "$here/tests/peers/peerctl.py" "$@"; }

head -c $((200 * 1048576)) /dev/zero > "$work/ftp/big.bin"
ctl start bench-respond-web 127.0.0.1 $port -- \
  /usr/bin/python3 "$here/tests/peers/http_peer.py" --port $port --root "$work/web" || exit 1
ctl start bench-respond-ftp $host 21 -- \
  /usr/bin/python3 "$here/tests/peers/ftp_peer.py" --host $host --port 21 --root "$work/ftp" --user velmora:secret || exit 1
agent_pid=
cleanup() {
  [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null
  ctl stop bench-respond-web; ctl stop bench-respond-ftp
  rm -rf "$work/ftp/big.bin" "$work/dest/"*
}
trap cleanup EXIT
wineserver -p 60 >/dev/null 2>&1 &
wine reg delete 'HKLM\SOFTWARE\Velmora' /v DebugMode /f >/dev/null 2>&1
wine "$bin/VelmoraSkytrove4.exe" /DEBUG=OFF >/dev/null 2>&1 &
agent_pid=$!
sleep 3

dest=$(winpath "$work/dest")
web="http://127.0.0.1:$port"
row() {  # name, request text, seconds
  local out
  out=$(wine "$bin/bench_agent.exe" respond "$2" "$3")
  printf '  %-34s p50 %7.2f ms   p99 %7.2f ms   max %8.2f ms   (%s probes)\n' "$1" \
    "$(echo "$out" | val respond_p50_ms)" "$(echo "$out" | val respond_p99_ms)" \
    "$(echo "$out" | val respond_max_ms)" "$(echo "$out" | val respond_count)"
}
http() { echo "GET Type=HTTP Reference=bench SourceFileName=$web/$1 DestinationFileName=$dest\\$2"; }
echo
echo "Round trip of a message sent to the agent's window (goal under Wine: max <= 100 ms, p99 <= 20 ms)"
row "idle" - 10
row "(a) 200 MB by FTP" "GET Type=FTP Reference=bench SourceFileName=ftp://$host/big.bin DestinationFileName=$dest\\ftp.bin Username=velmora Password=secret PassiveMode=1" 600
row "idle" - 5
row "(b) 100 MB by HTTP" "$(http gen/$((100 * 1048576)) http.bin)" 600
row "(c) 20 s on a server that says nothing" "$(http 'hang?ms=20000' hang.bin)" 23
row "(d) body trickled at 50 KB/s (15 s)" "$(http 'slow/750000?chunk=5000&delay=100' trickle.bin)" 60

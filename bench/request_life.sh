#!/usr/bin/env bash
# The agent against a baseline build of it, side by side in one run: what a requester sees
# of one request's life. For each agent (BASE, then this build):
#   HTTP 100 MB: reply time less the 1.0 s tick and 0.5 s pause, over the bare read loop
#   FTP 100 MB: reply time less the tick, over one login and a bare FtpGetFileA
#   the window's round trip while 100 MB arrive by HTTP (max, goal <= 100 ms)
#   intake: 10,000 requests in a burst (goal < 10 s); STATUS with 10,000 queued (goal < 50 ms)
#   a requester frozen with 20 replies due: another one's STATUS round trip (goal <= 1 s)
#   and its GET answered (a tick and the open's pause)
# Usage: BASE=path/to/VelmoraSkytrove4.exe bench/request_life.sh   (after `make win64`)
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin="$here/build/win64/bin"
base=${BASE:?BASE=the baseline VelmoraSkytrove4.exe}
work="$here/build/bench-life"
port=18720
host=${FTP_BENCH_HOST:-127.0.0.18}
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
  VELMORA_PEER_STATE="$work/peers"
mkdir -p "$work/web" "$work/ftp" "$work/dest"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
val() { tr -d '\r' | grep "^$1 " | awk '{print $2}'; }
ctl() { /usr/bin/python3 "$here/tests/peers/peerctl.py" "$@"; }
echo small > "$work/web/small.txt"
head -c $((100 * 1048576)) /dev/urandom > "$work/ftp/big.bin"
ctl start bench-life-web 127.0.0.1 $port -- \
  /usr/bin/python3 "$here/tests/peers/http_peer.py" --port $port --root "$work/web" || exit 1
ctl start bench-life-ftp $host 21 -- \
  /usr/bin/python3 "$here/tests/peers/ftp_peer.py" --host $host --port 21 --root "$work/ftp" --user velmora:secret || exit 1
trap 'ctl stop bench-life-web; ctl stop bench-life-ftp; rm -rf "$work/ftp/big.bin" "$work/dest"; wineserver -k' EXIT
web="http://127.0.0.1:$port"
dest=$(winpath "$work/dest")
ftp="GET Type=FTP Reference=bench SourceFileName=ftp://$host/big.bin DestinationFileName=$dest\\ftp.bin Username=velmora Password=secret PassiveMode=1"
fresh() {  # a new agent from $1, nothing queued
  wineserver -k >/dev/null 2>&1; sleep 1
  wineserver -p 60 >/dev/null 2>&1 &
  wine reg delete 'HKLM\SOFTWARE\Velmora' /v DebugMode /f >/dev/null 2>&1
  wine "$1" /DEBUG=OFF >/dev/null 2>&1 &
  sleep 2
}
declare -A fig
for who in base new; do
  exe=$([ $who = base ] && echo "$base" || echo "$bin/VelmoraSkytrove4.exe")
  fresh "$exe"
  floor=$(wine "$bin/bench_agent.exe" floor "$web/gen/104857600" | val floor_seconds)
  req=$(wine "$bin/bench_agent.exe" request "$web/gen/104857600" "$dest\\big.bin" | val request_seconds)
  fig[$who,http]=$(echo "($req - 1.5) / $floor" | bc -l)
  out=$(wine "$bin/bench_agent.exe" respond "GET Type=HTTP Reference=bench SourceFileName=$web/gen/104857600 DestinationFileName=$dest\\r.bin" 120)
  fig[$who,respond]=$(echo "$out" | val respond_max_ms)
  out=$(wine "$bin/bench_agent.exe" respond "$ftp" 300)
  fig[$who,respond_ftp]=$(echo "$out" | val respond_max_ms)
  out=$(wine "$bin/bench_agent.exe" frozen 20 "$web/slow/400000" "$web/files/small.txt" "$dest")
  fig[$who,frozen_status]=$(echo "s = $(echo "$out" | val frozen_status_seconds); if (s < 0) -1 else s * 1000" | bc -l)
  fig[$who,frozen_got]=$(echo "$out" | val frozen_other_got_seconds)
  fresh "$exe"
  out=$(wine "$bin/bench_agent.exe" burst 10000)
  fig[$who,burst]=$(echo "$(echo "$out" | val burst_first_half_seconds) + $(echo "$out" | val burst_second_half_seconds)" | bc -l)
  fresh "$exe"
  out=$(wine "$bin/bench_agent.exe" control 10000 "$web/slow/100000000?chunk=10000&delay=50" "$web/files/small.txt" "$dest")
  fig[$who,status]=$(echo "$(echo "$out" | val control_status_seconds) * 1000" | bc -l)
  rm -f "$work/dest/"*
done
# A figure below 0 is a reply that never came within the bench's limit (60 s for STATUS).
fmt() { if [ "$(echo "$1 < 0" | bc -l)" = 1 ]; then echo none; else printf '%.2f' "$1"; fi; }
row() {
  local b=${fig[base,$2]} n=${fig[new,$2]} ratio=-
  [ "$(echo "$b > 0 && $n >= 0" | bc -l)" = 1 ] && ratio=$(printf '%.2f' "$(echo "$n / $b" | bc -l)")
  printf '  %-52s %10s %10s %8s\n' "$1" "$(fmt "$b")" "$(fmt "$n")" "$ratio"
}
printf '\n  %-52s %10s %10s %8s\n' "" base new "new/base"
row "HTTP 100 MB: agent / bare read loop" http
row "round trip while 100 MB arrive by HTTP, max ms" respond
row "round trip while 100 MB arrive by FTP, max ms" respond_ftp
row "burst of 10,000 requests, s" burst
row "STATUS with 10,000 queued, ms" status
row "frozen requester (20 due): another's STATUS, ms" frozen_status
row "frozen requester (20 due): another's GET answered, s" frozen_got

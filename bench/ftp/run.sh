#!/usr/bin/env bash
# FTP download of one large file, three ways side by side in one run (six rounds,
# medians): the agent (request to reply, less its 1.0 s dispatcher tick), one login plus
# a bare FtpGetFileA, and curl.
# Usage: bench/ftp/run.sh [MB]   (default 100; BUILD=build/win64, FTP_BENCH_HOST=127.0.0.16)
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD:-$here/build/win64}
bin="$build/bin"
work="$build/bench-ftp"
host=${FTP_BENCH_HOST:-127.0.0.16}
mb=${1:-100}
rounds=${ROUNDS:-6}
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
  VELMORA_PEER_STATE="$work/peers"
mkdir -p "$work/root" "$work/dest"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
val() { tr -d '\r' | grep "^$1 " | awk '{print $2}'; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

head -c $((mb * 1048576)) /dev/urandom > "$work/root/big.bin"
/usr/bin/python3 "$here/tests/peers/peerctl.py" start bench-ftp $host 21 -- \
  /usr/bin/python3 "$here/tests/peers/ftp_peer.py" --host $host --port 21 --root "$work/root" --user velmora:secret || exit 1
agent_pid=
cleanup() {
  [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null
  /usr/bin/python3 "$here/tests/peers/peerctl.py" stop bench-ftp
  rm -f "$work/root/big.bin" "$work/dest/"*
}
trap cleanup EXIT
wine reg delete 'HKLM\SOFTWARE\Velmora' /v DebugMode /f >/dev/null 2>&1
wine "$bin/VelmoraSkytrove4.exe" /DEBUG=OFF >/dev/null 2>&1 &
agent_pid=$!
sleep 3

dest=$(winpath "$work/dest")
agent=() bare=() curls=()
run_bare() {
  bare+=("$(wine "$bin/bench_ftp.exe" bare $host velmora secret big.bin "$dest\\bare.bin" 1 | val bare_seconds)")
}
run_curl() {
  curls+=("$(curl -s -o "$work/dest/curl.bin" -w '%{time_total}' "ftp://velmora:secret@$host/big.bin")")
}
run_agent() {
  local r
  r=$(wine "$bin/bench_ftp.exe" request "GET Type=FTP Reference=B$1 SourceFileName=ftp://$host/big.bin DestinationFileName=$dest\\agent.bin Username=velmora Password=secret PassiveMode=1" | val request_seconds)
  agent+=("$(echo "$r - 1.0" | bc -l)")
  cmp -s "$work/root/big.bin" "$work/dest/agent.bin" || echo "round $1: the agent's file differs!"
}
# Each timing starts with an empty destination and nothing left to write back, and the
# order turns round each time, so no way is favoured by what ran before it.
quiet() { rm -f "$work/dest/"*; sync; sleep 0.5; }
for round in $(seq $rounds); do
  case $((round % 3)) in
    1) quiet; run_bare; quiet; run_agent $round; quiet; run_curl ;;
    2) quiet; run_agent $round; quiet; run_curl; quiet; run_bare ;;
    0) quiet; run_curl; quiet; run_bare; quiet; run_agent $round ;;
  esac
done
a=$(median "${agent[@]}"); b=$(median "${bare[@]}"); c=$(median "${curls[@]}")
printf '\n%s MB over FTP (passive), median of %d rounds\n' "$mb" $rounds
printf '  curl              %7.2f s   (%s)\n' "$c" "${curls[*]}"
printf '  bare FtpGetFileA  %7.2f s   (%s)\n' "$b" "${bare[*]}"
printf '  agent             %7.2f s   (%s; reply time less the 1.0 s tick)\n' "$a" "${agent[*]}"
printf '  agent / bare FtpGetFileA = %.3f  (goal <= 1.10)\n' "$(echo "$a / $b" | bc -l)"
printf '  agent / curl             = %.2f\n' "$(echo "$a / $c" | bc -l)"

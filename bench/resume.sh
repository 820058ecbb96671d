#!/usr/bin/env bash
# Resume figure: a 100 MB download cut at 90 % and retried (Retries=1) must move at most
# 12 MB the second time. The web peer's /ranged/ cuts the first request of its key and
# logs the bytes it sent for each request; the file is then checked whole.
# Usage: bench/resume.sh [MB]   (after `make win64`; default 100)
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin="$here/build/win64/bin"
work="$here/build/bench-resume"
port=18702
mb=${1:-100}
size=$((mb * 1048576))
cut=$((size * 9 / 10))
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix} WINEDEBUG=-all VELMORA_PEER_STATE="$work/peers"
mkdir -p "$work/web" "$work/dest"
rm -f "$work/web/ranged.log" "$work/dest/"*
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
wineserver -p 60 >/dev/null 2>&1 &
/usr/bin/python3 "$here/tests/peers/peerctl.py" start bench-resume 127.0.0.1 $port -- \
  /usr/bin/python3 "$here/tests/peers/http_peer.py" --port $port --root "$work/web" || exit 1
trap '/usr/bin/python3 "$here/tests/peers/peerctl.py" stop bench-resume; wineserver -k' EXIT
wine reg delete 'HKLM\SOFTWARE\Velmora' /v DebugMode /f >/dev/null 2>&1
wine "$bin/VelmoraSkytrove4.exe" /DEBUG=OFF >/dev/null 2>&1 &
sleep 2

key="bench-$$"
# The destination has no spaces: the retry key rides after it in the request text.
req_s=$(wine "$bin/bench_agent.exe" request "http://127.0.0.1:$port/ranged/$size?key=$key&cut=$cut" \
  "$(winpath "$work/dest")\\resume.bin Retries=1" | tr -d '\r' | awk '/^request_seconds/ {print $2}')
printf '\n%s MB over HTTP, cut at 90 %% (%d bytes), Retries=1: reply after %s s\n' "$mb" "$cut" "${req_s:-none}"
attempt=0 second=
while read -r _ range ifrange status sent; do
  attempt=$((attempt + 1))
  printf '  attempt %d: %-22s %-24s %s  bytes on the wire %d\n' "$attempt" "$range" "$ifrange" "$status" "${sent#sent=}"
  [ $attempt -eq 2 ] && second=${sent#sent=}
done < <(grep "^$key " "$work/web/ranged.log")
got=$(stat -c %s "$work/dest/resume.bin" 2>/dev/null || echo 0)
whole=$(/usr/bin/python3 -c "
import sys
sys.path.insert(0, '$here/tests/peers')
from http_peer import generated
data = open('$work/dest/resume.bin', 'rb').read()
print('yes' if data == b''.join(generated($size)) else 'no')" 2>/dev/null)
printf '  file %d bytes, the generated content: %s\n' "$got" "${whole:-no}"
printf '  second attempt %.1f MB (goal <= 12 MB)\n' "$(echo "${second:-0} / 1048576" | bc -l)"
rm -f "$work/dest/"*

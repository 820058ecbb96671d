#!/usr/bin/env bash
# Pace=Fast figures, each against its baselines measured in the same round, on one nginx:
#   40 files of 10 KB queued at once: agent (Pace=Fast) against aria2c -j1 and curl over
#     the same list
#   1 file of 200 MB: agent (Pace=Fast) against the bare WinINet loop of 64 KB reads with no
#     pauses (the platform's own limit), the same loop writing the file, flushed and renamed
#     into place write-through (what placing it safely costs), aria2c and curl
#   the bare loop over the 40 small files too, writing each as the agent places it
# Three rounds, each printed with its ratios. aria2 and curl come from Debian's packages.
# Usage: bench/fast.sh   (after `make win64`; about 2 minutes; in a network namespace of its
#   own: nginx takes 127.0.0.50:80; a namespace has no way out, so install aria2 before)
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin="$here/build/win64/bin"
work="$here/build/bench-fast"
host=127.0.0.50
rounds=${ROUNDS:-3}
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix} WINEDEBUG=-all VELMORA_PEER_STATE="$work/peers"
for tool in aria2c curl; do
  command -v $tool >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ${tool%c} >/dev/null || exit 1
done
rm -rf "$work/dest" "$work/aria" "$work/curl" "$work/lists"
mkdir -p "$work/data/files" "$work/dest" "$work/aria" "$work/curl" "$work/lists" "$work/nginx"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
val() { tr -d '\r' | grep "^$1 " | awk '{print $2}'; }
ratio() { echo "scale=3; $1 / $2" | bc -l; }
seconds() { local s; s=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $s" | bc -l; }

curl_args=()
for i in $(seq -f %02g 0 39); do
  head -c 10240 /dev/urandom > "$work/data/files/s$i.bin"
  echo "http://$host/files/s$i.bin $(winpath "$work/dest")\\s$i.bin" >> "$work/lists/small.txt"
  printf 'http://%s/files/s%s.bin\n  out=s%s.bin\n' $host $i $i >> "$work/lists/small.aria"
  curl_args+=(-o "$work/curl/s$i.bin" "http://$host/files/s$i.bin")
done
[ -s "$work/data/files/big.bin" ] || head -c $((200 * 1048576)) /dev/urandom > "$work/data/files/big.bin"
big="http://$host/files/big.bin"
echo "$big $(winpath "$work/dest")\\big.bin" > "$work/lists/big.txt"
echo "$big $(winpath "$work/curl")\\floor.bin" > "$work/lists/floor.txt"
sed 's/\\dest\\/\\curl\\/' "$work/lists/small.txt" > "$work/lists/floor-small.txt"

wineserver -p 60 >/dev/null 2>&1 &
/usr/bin/python3 "$here/tests/peers/peerctl.py" start bench-fast-nginx $host 80 -- /usr/bin/python3 \
  "$here/tests/peers/real_peer.py" nginx "$work/nginx" "$work/data" --host $host --tls-port 18750 \
  --backend 127.0.0.1:18751 || exit 1
trap '/usr/bin/python3 "$here/tests/peers/peerctl.py" stop bench-fast-nginx; wineserver -k' EXIT
wine reg delete 'HKLM\SOFTWARE\Velmora' /v DebugMode /f >/dev/null 2>&1
wine reg delete 'HKLM\SOFTWARE\Velmora\Utils\Skytrove4' /v Pace /f >/dev/null 2>&1
wine "$bin/VelmoraSkytrove4.exe" /DEBUG=OFF >/dev/null 2>&1 &
sleep 2

aria() { aria2c -q -j1 --allow-overwrite=true --auto-file-renaming=false --file-allocation=none "$@"; }
for round in $(seq 1 $rounds); do
  agent_small=$(wine "$bin/bench_agent.exe" list "$work/lists/small.txt" Pace=Fast | val list_seconds)
  aria_small=$(seconds aria -d "$work/aria" -i "$work/lists/small.aria")
  curl_small=$(seconds curl -s "${curl_args[@]}")
  floor_small=$(wine "$bin/bench_agent.exe" floor-files "$work/lists/floor-small.txt" flush | val floor_files_seconds)
  floor_big=$(wine "$bin/bench_agent.exe" floor-fast "$big" | val floor_seconds)
  placed_big=$(wine "$bin/bench_agent.exe" floor-files "$work/lists/floor.txt" flush | val floor_files_seconds)
  agent_big=$(wine "$bin/bench_agent.exe" list "$work/lists/big.txt" Pace=Fast | val list_seconds)
  aria_big=$(seconds aria -d "$work/aria" -o big.bin "$big")
  curl_big=$(seconds curl -s -o "$work/curl/big.bin" "$big")
  cmp -s "$work/dest/big.bin" "$work/data/files/big.bin" || echo "round $round: the agent's 200 MB differs"
  cmp -s "$work/dest/s39.bin" "$work/data/files/s39.bin" || echo "round $round: the agent's small file differs"
  printf '\nround %d\n  40 x 10 KB   agent %6.3f s   aria2c -j1 %6.3f s   curl %6.3f s   bare loop placing safely %6.3f s\n' \
    $round "$agent_small" "$aria_small" "$curl_small" "$floor_small"
  printf '               agent / aria2c = %s (goal <= 1.5)   bare loop placing safely / aria2c = %s\n' \
    "$(ratio "$agent_small" "$aria_small")" "$(ratio "$floor_small" "$aria_small")"
  printf '  1 x 200 MB   agent %6.3f s   bare loop %6.3f s   bare loop placing safely %6.3f s   aria2c %6.3f s   curl %6.3f s\n' \
    "$agent_big" "$floor_big" "$placed_big" "$aria_big" "$curl_big"
  printf '               agent / bare loop = %s (goal <= 1.25, 1.10)   agent / bare loop placing safely = %s\n' \
    "$(ratio "$agent_big" "$floor_big")" "$(ratio "$agent_big" "$placed_big")"
  rm -f "$work/dest"/* "$work/aria"/* "$work/curl"/*
done

#!/usr/bin/env bash
# IfChanged=1 figures against nginx, each against its baseline measured in the same run:
#   100 unchanged 1 MB files asked again: body bytes nginx sent, replies " Unchanged=1", every
#     destination's bytes, identity and time kept, time per request against 100 plain GETs
#   the same 100 after the server's files changed: whole downloads, none Unchanged
#   100,000 records: the file's size, start-up and the first IfChanged=1 request after start
#     (where the records are read) against an empty records file, and the working set after it
# The tests' records and journal in the prefix are set aside for the run and put back after.
# Usage: bench/if_changed.sh   (after `make win64`; about 12 minutes: 400 requests at 1.5 s;
#   in a network namespace of its own: nginx takes 127.0.0.30:80). RECORDS_ONLY=1: only the
#   100,000 records (about 2 minutes).
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin="$here/build/win64/bin"
work="$here/build/bench-ifchanged"
host=127.0.0.30
n=100
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix} WINEDEBUG=-all VELMORA_PEER_STATE="$work/peers"
rm -rf "$work/dest" "$work/plain" "$work/lists"
mkdir -p "$work/data/files" "$work/dest" "$work/plain" "$work/lists" "$work/nginx"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
val() { tr -d '\r' | grep "^$1 " | awk '{print $2}'; }
ratio() { echo "scale=3; $1 / $2" | bc -l; }
log="$work/nginx/nginx-access.log"
# The access log's lines from `mark` on: requests, 304s, 200s and body bytes sent.
mark() { wc -l < "$log" 2>/dev/null || echo 0; }
served() { tail -n +$(($1 + 1)) "$log" | awk '{n++; s[$9]++; b += $10} END {printf "%d %d %d %d\n", n, s["304"], s["200"], b}'; }

wineserver -p 60 >/dev/null 2>&1 &
local_app=$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null)
records="$local_app/Velmora/Skytrove4/changes.records"
journal="$local_app/Velmora/Skytrove4/queue.journal"
for f in "$records" "$journal"; do [ -e "$f" ] && mv "$f" "$f.bench-aside"; done
restore() {
  /usr/bin/python3 "$here/tests/peers/peerctl.py" stop bench-nginx
  wineserver -k
  for f in "$records" "$journal"; do
    rm -f "$f" "$f.new"
    [ -e "$f.bench-aside" ] && mv "$f.bench-aside" "$f"
  done
}
trap restore EXIT

for i in $(seq -f %03g 0 $((n - 1))); do
  head -c 1048576 /dev/urandom > "$work/data/files/f$i.bin"
  touch -d '1 day ago' "$work/data/files/f$i.bin"
  echo "http://$host/files/f$i.bin $(winpath "$work/dest")\\c$i.bin" >> "$work/lists/changed.txt"
  echo "http://$host/files/f$i.bin $(winpath "$work/plain")\\p$i.bin" >> "$work/lists/plain.txt"
done
rm -f "$log"
/usr/bin/python3 "$here/tests/peers/peerctl.py" start bench-nginx $host 80 -- /usr/bin/python3 \
  "$here/tests/peers/real_peer.py" nginx "$work/nginx" "$work/data" --host $host --tls-port 18730 \
  --backend 127.0.0.1:18731 || exit 1
wine reg delete 'HKLM\SOFTWARE\Velmora' /v DebugMode /f >/dev/null 2>&1
start_agent() {
  wine "$bin/VelmoraSkytrove4.exe" /DEBUG=OFF >/dev/null 2>&1 &
  sleep 2
}
stop_agent() {
  wineserver -k; sleep 1
  wineserver -p 60 >/dev/null 2>&1 &
}
start_agent

if [ "${RECORDS_ONLY:-0}" != 1 ]; then
# 1. Unchanged: a warm-up round places the files and records them, the measured one asks again.
m=$(mark); warm=$(wine "$bin/bench_agent.exe" list "$work/lists/changed.txt" IfChanged=1); warm_log=$(served $m)
wine "$bin/bench_agent.exe" identity "$work/lists/changed.txt" > "$work/lists/before.txt"
m=$(mark); again=$(wine "$bin/bench_agent.exe" list "$work/lists/changed.txt" IfChanged=1); again_log=$(served $m)
wine "$bin/bench_agent.exe" identity "$work/lists/changed.txt" > "$work/lists/after.txt"
m=$(mark); plain=$(wine "$bin/bench_agent.exe" list "$work/lists/plain.txt" -); plain_log=$(served $m)
same_bytes=0
for i in $(seq -f %03g 0 $((n - 1))); do
  cmp -s "$work/data/files/f$i.bin" "$work/dest/c$i.bin" && same_bytes=$((same_bytes + 1))
done
same_identity=$(paste -d ' ' "$work/lists/before.txt" "$work/lists/after.txt" | tr -d '\r' |
  awk '$2 != "missing" && $1 == $6 && $2 == $7 && $3 == $8 && $4 == $9 && $5 == $10 {k++} END {print k + 0}')
again_s=$(echo "$again" | val list_seconds); plain_s=$(echo "$plain" | val list_seconds)
read -r _ _ _ warm_b <<< "$warm_log"
read -r again_n again_304 again_200 again_b <<< "$again_log"
read -r plain_n _ plain_200 plain_b <<< "$plain_log"
printf '\n%d unchanged 1 MB files from nginx, IfChanged=1 after a warm-up round (%s of %s GOT, %d body bytes)\n' \
  $n "$(echo "$warm" | val list_got)" $n "$warm_b"
printf '  nginx: %d requests, %d x 304, %d x 200, body bytes sent %d (goal 0)\n' "$again_n" "$again_304" "$again_200" "$again_b"
printf '  replies " Unchanged=1": %s of %s GOT (goal %d)\n' "$(echo "$again" | val list_unchanged)" \
  "$(echo "$again" | val list_got)" $n
printf '  destinations kept: bytes %d, volume serial + file index + last-write time + size %d (goal %d each)\n' \
  $same_bytes "$same_identity" $n
printf '  per request: IfChanged=1 %.3f s, plain GET %.3f s (nginx %d x 200, %d body bytes); IfChanged / plain = %.3f\n' \
  "$(ratio "$again_s" $n)" "$(ratio "$plain_s" $n)" "$plain_200" "$plain_b" "$(ratio "$again_s" "$plain_s")"

# 2. Changed: new content and a new time on the server.
for i in $(seq -f %03g 0 $((n - 1))); do
  head -c 1048576 /dev/urandom > "$work/data/files/f$i.bin"
done
m=$(mark); changed=$(wine "$bin/bench_agent.exe" list "$work/lists/changed.txt" IfChanged=1); changed_log=$(served $m)
new_bytes=0
for i in $(seq -f %03g 0 $((n - 1))); do
  cmp -s "$work/data/files/f$i.bin" "$work/dest/c$i.bin" && new_bytes=$((new_bytes + 1))
done
read -r changed_n changed_304 changed_200 changed_b <<< "$changed_log"
changed_s=$(echo "$changed" | val list_seconds)
printf '\nThe same %d after the server'"'"'s files changed\n' $n
printf '  nginx: %d requests, %d x 200, %d x 304, body bytes sent %d (goal %d)\n' "$changed_n" "$changed_200" \
  "$changed_304" "$changed_b" $((n * 1048576))
printf '  replies " Unchanged=1": %s of %s GOT (goal 0); destinations holding the new bytes %d of %d\n' \
  "$(echo "$changed" | val list_unchanged)" "$(echo "$changed" | val list_got)" $new_bytes $n
printf '  per request %.3f s; against plain GET %.3f\n' "$(ratio "$changed_s" $n)" "$(ratio "$changed_s" "$plain_s")"

fi

# 3. Scale: the same figures with an empty records file and with 100,000 records.
median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
declare -A startup first second ws_start ws_end bytes readback
for count in 0 100000; do
  stop_agent
  seeded=$(wine "$bin/bench_agent.exe" seed-records $count)
  sync  # the 40 MB just written must not be flushed during the start-ups measured next
  bytes[$count]=$(stat -c %s "$records")
  readback[$count]=$(echo "$seeded" | val records_read_seconds)
  startup[$count]=$(for run in 1 2 3; do
    wine "$bin/bench_agent.exe" startup "$(winpath "$bin")\\VelmoraSkytrove4.exe" | val startup_seconds
  done | median)
  # Each run a fresh agent, whose first IfChanged=1 request reads the records.
  runs=()
  for run in 1 2 3; do
    stop_agent
    start_agent
    rm -f "$work/dest/first.bin" "$work/dest/second.bin"
    out=$(wine "$bin/bench_agent.exe" memory "http://$host/files/f000.bin" "$(winpath "$work/dest")\\first.bin IfChanged=1")
    after=$(wine "$bin/bench_agent.exe" request "http://$host/files/f001.bin" \
      "$(winpath "$work/dest")\\second.bin IfChanged=1" | val request_seconds)
    runs+=("$(echo "$out" | val memory_request_seconds) $after $(echo "$out" | val memory_start_mib) $(echo "$out" | val memory_end_mib)")
  done
  first[$count]=$(printf '%s\n' "${runs[@]}" | awk '{print $1}' | median)
  second[$count]=$(printf '%s\n' "${runs[@]}" | awk '{print $2}' | median)
  ws_start[$count]=$(printf '%s\n' "${runs[@]}" | awk '{print $3}' | median)
  ws_end[$count]=$(printf '%s\n' "${runs[@]}" | awk '{print $4}' | median)
done
printf '\n100,000 change records, against an empty records file (medians of 3, each a fresh agent)\n'
printf '  records file %d bytes (%.1f MB, %.0f bytes a record); empty: %d bytes\n' "${bytes[100000]}" \
  "$(echo "${bytes[100000]} / 1048576" | bc -l)" "$(echo "(${bytes[100000]} - 8) / 100000" | bc -l)" "${bytes[0]}"
printf '  read back by the agent'"'"'s store in bench_agent: %.3f s\n' "${readback[100000]}"
printf '  start-up                      %.3f s against %.3f s: ratio %.2f\n' "${startup[100000]}" "${startup[0]}" \
  "$(ratio "${startup[100000]}" "${startup[0]}")"
printf '  first IfChanged=1 after start %.3f s against %.3f s: +%.3f s reading the records (a new destination, 1 MB)\n' \
  "${first[100000]}" "${first[0]}" "$(echo "${first[100000]} - ${first[0]}" | bc -l)"
printf '  the request after it          %.3f s against %.3f s\n' "${second[100000]}" "${second[0]}"
printf '  working set before / after the first: %s / %s MiB against %s / %s MiB\n' "${ws_start[100000]}" \
  "${ws_end[100000]}" "${ws_start[0]}" "${ws_end[0]}"

#!/usr/bin/env bash
# Caps as the server sees them, each against the cap in the same run: 20 MB over HTTP and
# over FTP at 256 KB/s and at 2 MB/s (the peers note when each write was taken: a socket
# takes a write only as fast as its reader empties it, once its buffers are full), the
# mean after the first second and after the buffers' first fill, the worst 5 s window, and
# the window's longest round trip meanwhile (WM_NULL every 100 ms); then a work-hours
# boundary crossed during a transfer (the machine's caps changed under it).
# Usage: bench/pace.sh   (after `make win64`; about 5 minutes; in a network namespace of its
#   own: the peers take 127.0.0.40:21 and 127.0.0.1:18740)
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin="$here/build/win64/bin"
work="$here/build/bench-pace"
port=18740
host=127.0.0.40
size=$((20 * 1048576))
key='HKLM\SOFTWARE\Velmora\Utils\Skytrove4'
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix} WINEDEBUG=-all VELMORA_PEER_STATE="$work/peers"
rm -rf "$work/web" "$work/ftp" "$work/dest"
mkdir -p "$work/web" "$work/ftp" "$work/dest"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
val() { tr -d '\r' | grep "^$1 " | awk '{print $2}'; }
ctl() { /usr/bin/python3 "$here/tests/peers/peerctl.py" "$@"; }
head -c $size /dev/urandom > "$work/ftp/big.timed"
head -c $((24 * 1048576)) /dev/urandom > "$work/ftp/boundary.timed"
wineserver -p 60 >/dev/null 2>&1 &
ctl start bench-pace-web 127.0.0.1 $port -- \
  /usr/bin/python3 "$here/tests/peers/http_peer.py" --port $port --root "$work/web" || exit 1
ctl start bench-pace-ftp $host 21 -- \
  /usr/bin/python3 "$here/tests/peers/ftp_peer.py" --host $host --port 21 --root "$work/ftp" --user velmora:secret || exit 1
regdel() { for v in "$@"; do wine reg delete "$key" /v "$v" /f >/dev/null 2>&1; done; }
caps="MaxBytesPerSecond WorkHoursMaxBytesPerSecond WorkHoursStart WorkHoursEnd"
cleanup() {
  regdel $caps
  ctl stop bench-pace-web; ctl stop bench-pace-ftp
  wineserver -k
}
trap cleanup EXIT
regdel $caps
wine reg delete 'HKLM\SOFTWARE\Velmora' /v DebugMode /f >/dev/null 2>&1
wine "$bin/VelmoraSkytrove4.exe" /DEBUG=OFF >/dev/null 2>&1 &
sleep 2

# The figures of one line of a timed.log: "NAME t:bytes ..." (seconds, bytes taken by then).
cat > "$work/marks.py" <<'EOF'
def marks(log, name):
    line = [l for l in open(log) if l.startswith(name + ' ')][-1].split()[1:]
    return [(float(t), float(b)) for t, b in (m.split(':') for m in line)]
def by(marks, t):
    sent = 0.0
    for mt, mb in marks:
        if mt <= t: sent = mb
    return sent
def stats(log, name, cap):
    m = marks(log, name)
    end, total = m[-1]
    # The buffers' first fill: everything taken before the first wait of a tenth of a second.
    fill = next((m[i][0] for i in range(1, len(m)) if m[i][0] - m[i - 1][0] > 0.1), 0.0)
    mean1 = (total - by(m, 1.0)) / (end - 1.0)
    meanf = (total - by(m, fill)) / (end - fill) if end > fill else 0
    def worst(start):
        windows = [(by(m, s + 5) - by(m, s)) / 5 for s in [start + 0.5 * k for k in range(int((end - start) / 0.5) + 1)]
                   if s + 5 <= end]
        return max(windows, key=lambda w: abs(w - cap)) / cap if windows else 0
    print('%.1f %.3f %.3f %.3f %.3f %.2f' % (end, mean1 / cap, meanf / cap, worst(1.0), worst(max(1.0, fill)), fill))
def boundary(log):
    m = marks(log, 'boundary.timed')
    end = m[-1][0]
    before = (by(m, 9) - by(m, 4)) / 5
    after = (by(m, end) - by(m, 17)) / (end - 17) if end > 17 else 0
    print('\nWork hours begin 10 s into a 24 MB FTP transfer (1 MB/s all hours, 512 KB/s in work hours)')
    print('  before: %.0f KB/s (4-9 s); after: %.0f KB/s (17 s to the end at %.1f s); ratio %.2f (goal 0.50)' %
          (before / 1024, after / 1024, end, after / before if before else 0))
EOF
stats() { (cd "$work" && /usr/bin/python3 -c 'import sys, marks; marks.stats(sys.argv[1], sys.argv[2], float(sys.argv[3]))' "$@"); }

printf '\n20 MB against its cap, as the server saw it (ratios to the cap)\n'
printf '  %-5s %-9s %8s %12s %14s %16s %14s %10s\n' kind cap seconds "mean after 1s" "after the fill" \
  "worst 5 s after 1s" "after the fill" "max trip"
for cap in 262144 2097152; do
  for kind in HTTP FTP; do
    name="$kind-$cap-$$"
    if [ $kind = HTTP ]; then
      request="GET Type=HTTP Reference=P SourceFileName=http://127.0.0.1:$port/timed/$size?key=$name DestinationFileName=$(winpath "$work/dest")\\h$cap.bin MaxBytesPerSecond=$cap"
      log="$work/web/timed.log"
    else
      name=big.timed
      request="GET Type=FTP Reference=P SourceFileName=ftp://$host/big.timed DestinationFileName=$(winpath "$work/dest")\\f$cap.bin Username=velmora Password=secret PassiveMode=1 MaxBytesPerSecond=$cap"
      log="$work/ftp/timed.log"
    fi
    trip=$(wine "$bin/bench_agent.exe" respond "$request" 600 | val respond_max_ms)
    sleep 1  # the FTP peer writes its line when the data connection closes
    read -r secs m1 mf w1 wf fill <<< "$(stats "$log" "$name" $cap)"
    printf '  %-5s %-9s %8s %12s %14s %16s %14s %7s ms   (fill %s s)\n' $kind "$((cap / 1024)) KB/s" "$secs" "$m1" \
      "$mf" "$w1" "$wf" "$trip" "$fill"
  done
done

# Work hours begin during a transfer: 1 MB/s for all hours, 512 KB/s in work hours that
# are made to contain now ten seconds in; the agent looks again within 5 s.
hour=$((10#$(date +%H)))
wine reg add "$key" /v MaxBytesPerSecond /t REG_DWORD /d 1048576 /f >/dev/null
wine reg add "$key" /v WorkHoursMaxBytesPerSecond /t REG_DWORD /d 524288 /f >/dev/null
wine reg add "$key" /v WorkHoursStart /t REG_DWORD /d $(((hour + 1) % 24)) /f >/dev/null
wine reg add "$key" /v WorkHoursEnd /t REG_DWORD /d $(((hour + 2) % 24)) /f >/dev/null
(sleep 10; wine reg add "$key" /v WorkHoursStart /t REG_DWORD /d $hour /f >/dev/null) &
wine "$bin/bench_agent.exe" respond "GET Type=FTP Reference=B SourceFileName=ftp://$host/boundary.timed DestinationFileName=$(winpath "$work/dest")\\boundary.bin Username=velmora Password=secret PassiveMode=1" 600 >/dev/null
sleep 1
(cd "$work" && /usr/bin/python3 -c 'import sys, marks; marks.boundary(sys.argv[1])' "$work/ftp/timed.log")

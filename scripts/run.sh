#!/usr/bin/env bash
# make run: start the agent under Wine and show its main job once: a sample file served
# on 127.0.0.1 is queued through the requester and fetched.
set -uo pipefail
build=${1:-build/win64}
here=$(cd "$(dirname "$0")/.." && pwd)
bin="$here/$build/bin"
demo="$here/build/demo"
port=${VELMORA_DEMO_PORT:-18500}
mkdir -p "$demo/web" "$demo/downloads" "$demo/logs"
cp "$here/docs/sample.txt" "$demo/web/sample.txt"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

if [ -n "${DISPLAY:-}" ] && [ "${VELMORA_HEADLESS:-0}" != 1 ]; then
  # A prefix of its own with the X11 driver, so the test prefix stays headless.
  export WINEPREFIX="$here/build/wineprefix-desktop"
  if [ ! -f "$WINEPREFIX/.velmora-ready" ]; then
    mkdir -p "$WINEPREFIX"; wineboot -i >/dev/null 2>&1; wineserver -k; touch "$WINEPREFIX/.velmora-ready"
  fi
  echo "run: display $DISPLAY found: the window shows (started with /NoMinimise)"
  args="/NoMinimise /DEBUG=MAX"
else
  echo "run: no display: running headless with Wine's null display driver (the window exists but is not drawn)"
  args="/DEBUG=MAX"
fi

wine reg add 'HKLM\SOFTWARE\Velmora' /v DebugPath /d "$(winpath "$demo/logs")" /f >/dev/null 2>&1
/usr/bin/python3 "$here/tests/peers/peerctl.py" start demo-web 127.0.0.1 "$port" -- \
  /usr/bin/python3 "$here/tests/peers/http_peer.py" --host 127.0.0.1 --port "$port" --root "$demo/web" \
  || { echo "run: could not start the sample web server on port $port"; exit 1; }
export VELMORA_PEER_STATE="$here/build/peers"

wine "$bin/VelmoraSkytrove4.exe" $args >/dev/null 2>&1 &
agent=$!
echo "run: agent started (process $agent): $bin/VelmoraSkytrove4.exe $args"
echo "run: queueing the sample download..."
dest="$(winpath "$demo/downloads")\\sample.txt"
wine "$bin/skytrove-request.exe" --wait-agent 20 --timeout 30 Type=HTTP Reference=demo \
  SourceFileName="http://127.0.0.1:$port/files/sample.txt" DestinationFileName="$dest" 2>/dev/null
status=$?
if [ $status -eq 0 ]; then
  echo "run: the file is at $demo/downloads/sample.txt ($dest)"
elif [ $status -eq 3 ]; then
  echo "run: the agent could not fetch it (the reason is above); see the log"
else
  echo "run: no reply (status $status); see the log"
fi
cat <<EOT

The agent keeps running.
  debug log:      $demo/logs/VelmoraSkytrove4.$(date +%Y%m%d).log
  queue another:  WINEPREFIX=$WINEPREFIX wine $bin/skytrove-request.exe Type=HTTP Reference=R2 \\
                    SourceFileName=http://127.0.0.1:$port/files/sample.txt DestinationFileName='Z:\\tmp\\copy.txt'
  stop it:        WINEPREFIX=$WINEPREFIX wineserver -k   (the sample server: python3 tests/peers/peerctl.py stop demo-web)
EOT

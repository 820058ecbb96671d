#!/usr/bin/env bash
# Takes the screenshots in docs/screenshots again: the window idle, the window during a
# slow HTTP transfer with requests waiting, and the tray menu opened by a real right
# click on the tray icon. Runs Xvfb and Wine's virtual desktop on a display and in a
# prefix of its own, so it disturbs no other Wine or X session.
#
#   scripts/screenshots.sh [build-folder]      (default build/win64-ui)
#
# Environment: SHOT_DISPLAY (default :77), SHOT_PORT (web peer, default 18084).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build/win64-ui}" && pwd)
display=${SHOT_DISPLAY:-:77}
port=${SHOT_PORT:-18084}
out="$here/docs/screenshots"
work="$build/screenshots"
exe="$build/bin/VelmoraSkytrove4.exe"
requester="$build/bin/skytrove-request.exe"
[ -f "$exe" ] && [ -f "$requester" ] || { echo "screenshots: build $build first" >&2; exit 2; }

# Tahoma is Wine's own font set; xdotool clicks the tray icon the way a person does.
pkgs=(xvfb xauth imagemagick xdotool fonts-wine)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

export WINEPREFIX="$here/build/wineprefix-shot" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=$display
mkdir -p "$out" "$work"
rm -f "$work"/*.out
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
sleep 1
if [ ! -f "$WINEPREFIX/.velmora-shot-ready" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  touch "$WINEPREFIX/.velmora-shot-ready"
fi
# Wine finds its own faces (Tahoma, and Marlett for the caption buttons) in the prefix's
# font folder; without them a wider stand-in face is used.
cp -u /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
# Every program of this prefix runs in one virtual desktop, so the requests sent below
# find the agent's window.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shot /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shot /d 1024x700 /f >/dev/null 2>&1
# Wine's virtual-desktop taskbar does not take its strip out of the work area, so the
# window's default corner would cover the tray. Store a placement just above the taskbar
# (the window's own size, 437 x 340 pixels), as if the user had moved it there.
key='HKLM\SOFTWARE\Velmora\Utils\Skytrove4'
for v in Left=587 Top=338 Right=1024 Bottom=678 Maximised=0; do
  wine reg add "$key" /v "${v%%=*}" /t REG_DWORD /d "${v#*=}" /f >/dev/null 2>&1
done

/usr/bin/python3 "$here/tests/peers/http_peer.py" --host 127.0.0.1 --port "$port" --root "$work" >/dev/null 2>&1 &
pids+=($!)

wine "$exe" /NoMinimise >/dev/null 2>&1 &
pids+=($!)
sleep 6

# The window and the corner of the taskbar it sits on: what a person looks at.
# The tray shots need only the taskbar's right end.
shoot() {
  import -display "$display" -window root -crop "${2:-560x440+464+260}" +repage "$out/$1"
  echo "screenshots: $out/$1"
}
shoot window-idle.png

# One slow transfer (about 25 s) and four requests behind it.
dest=$(winepath -w "$work")
requests=()
send() {
  wine "$(winepath -w "$requester")" --timeout 120 Type=HTTP Reference="$1" \
    SourceFileName="http://127.0.0.1:$port/slow/$2?chunk=4096&delay=100" \
    DestinationFileName="$dest\\$1.bin" >"$work/$1.out" 2>&1 &
  pids+=($!)
  requests+=($!)
}
send annual-report-2024 900000
sleep 1
for item in product-catalogue:48213 price-list-spring:20480 customer-letters:7345 warehouse-stock:131072; do
  send "${item%%:*}" "${item#*:}"
  sleep 0.3
done
sleep 8
shoot window-transfer.png

# A person minimises the window with its title-bar button, leaving only the tray icon,
# and rests the pointer on that icon (the right-most one of the taskbar): the tip shows
# the transfer's progress.
xdotool mousemove 973 351 click 1
sleep 1
xdotool mousemove 1012 690
sleep 3
shoot tray-tip.png 400x160+624+540

# The transfers end; a right click on the icon opens its menu.
xdotool mousemove 900 600
for p in "${requests[@]}"; do
  for _ in $(seq 90); do kill -0 "$p" 2>/dev/null || break; sleep 1; done
done
xdotool mousemove 1012 690 click 3
sleep 0.5
# The pointer goes on to "E&xit", which leaves the icon and so hides the icon's tip.
xdotool mousemove 985 668
sleep 1
shoot tray-menu.png 400x160+624+540
xdotool key Escape

#!/usr/bin/env bash
# Installs what the build and the tests need, once. Quiet when everything is present.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

pkgs=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 python3-pyftpdlib curl
      cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev xvfb xauth imagemagick fonts-wine xdotool bc
      wixl msitools zip nginx-light vsftpd tinyproxy openssl ca-certificates)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The real FTP server's local user logs in to a home folder that is not "/".
if ! id velmora-ftp >/dev/null 2>&1; then
  useradd -m -d /home/velmora-ftp -s /bin/bash velmora-ftp
fi
if [ ! -f /home/velmora-ftp/.velmora-ready ]; then
  echo 'velmora-ftp:skytrove' | chpasswd
  mkdir -p /home/velmora-ftp/up
  chown velmora-ftp: /home/velmora-ftp/up
  touch /home/velmora-ftp/.velmora-ready
fi

# A prefix of our own, headless (null display driver) so tests need no X server.
export WINEPREFIX="$here/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.velmora-ready" ]; then
  echo "setup: creating the Wine prefix in $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wineserver -k || true
  touch "$WINEPREFIX/.velmora-ready"
fi

#!/bin/sh
# Runs the ping tests in a network namespace of their own: only loopback, and a kernel
# that ignores echo requests, so an echo to 127.0.0.1 is never answered and nothing
# leaves this machine. Wine sends ICMP from its device service process, which must live
# in the namespace too: hence a Wine prefix (and wineserver) of its own.
# Exit 77 (skipped) with the reason where the machine forbids any of it.
exe=$1
prefix=$2
if ! command -v unshare >/dev/null || ! command -v ip >/dev/null; then
  echo "SKIPPED: unshare or ip is missing"; exit 77
fi
if ! unshare -n true 2>/dev/null; then
  echo "SKIPPED: this machine does not let the test make a network namespace"; exit 77
fi
exec unshare -n sh -c '
  ip link set lo up || { echo "SKIPPED: cannot bring loopback up"; exit 77; }
  echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all 2>/dev/null ||
    { echo "SKIPPED: cannot switch echo replies off in the namespace"; exit 77; }
  export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  VELMORA_PING_SILENT_HOST=127.0.0.1 wine "$0" --gtest_filter="PingComputer.*"
  rc=$?
  wineserver -k
  exit $rc' "$exe" "$prefix"

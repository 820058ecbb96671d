#!/bin/sh
# Runs the ping tests in a network namespace of their own: only loopback, and a kernel
# that ignores echo requests, so an echo to 127.0.0.1 is never answered and nothing
# leaves this machine. Exit 77 (skipped) with the reason where the machine forbids it.
exe=$1
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
  VELMORA_PING_SILENT_HOST=127.0.0.1 exec wine "$0" --gtest_filter="PingComputer.*"' "$exe"

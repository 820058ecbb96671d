#!/usr/bin/env bash
# The package as an administrator uses it, under Wine in a prefix of its own:
#   dist_msi.sh SOURCE_DIR BUILD_DIR VERSION WEB_HOST:PORT
# Builds this version's package and one of the next build number, installs silently,
# has the installed agent answer a request, repairs, upgrades and uninstalls while the
# agent runs, and checks that the uninstall leaves nothing of ours but what the
# administrator set: an administrator's value and a user's window placement both survive
# the repair and the upgrade (the old product's uninstall within it); the uninstall
# removes the placement and keeps the value.
# The older build is refused over the newer one. Also "/Exit" with and without a running
# agent, and AUTOSTART=0 across an upgrade.
set -uo pipefail
src=$1 build=$(cd "$2" && pwd) version=$3 web=$4
out=$build/dist-test
next=${version%.*}.$((${version##*.} + 1))
export WINEPREFIX=$build/wineprefix-dist WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
drive=$WINEPREFIX/drive_c
installed="$drive/Program Files/Velmora Skytrove v4"
agent_win='C:\Program Files\Velmora Skytrove v4\VelmoraSkytrove4.exe'
requester_win='C:\Program Files\Velmora Skytrove v4\skytrove-request.exe'
run_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run'
agent=

fail() { echo "FAIL: $*"; exit 1; }
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
# Polls until the command succeeds, at most $1 seconds.
wait_until() {
  local end=$((SECONDS + $1)); shift
  until "$@"; do [ "$SECONDS" -ge "$end" ] && return 1; sleep 0.1; done
}
# Our agent child has ended (a zombie until reaped counts as ended).
agent_gone() { local s; s=$(ps -o stat= -p "$agent" 2>/dev/null); [ -z "$s" ] || [[ $s == Z* ]]; }
cleanup() {
  if [ -n "$agent" ] && ! agent_gone; then kill "$agent" 2>/dev/null; fi
  wineserver -k >/dev/null 2>&1
}
trap cleanup EXIT

msi() { wine msiexec "$@" /qn </dev/null >/dev/null 2>&1; }
# Starts the installed agent and waits until it has answered a request.
start_agent() {
  wine "$agent_win" </dev/null >/dev/null 2>&1 &
  agent=$!
  rm -f "$out/got.bin"
  wine "$requester_win" --wait-agent 30 --timeout 30 Type=HTTP Reference="$1" \
    SourceFileName="http://$web/gen/4096" DestinationFileName="$(winpath "$out/got.bin")" \
    </dev/null >"$out/request.txt" 2>&1 || { cat "$out/request.txt"; fail "$1: the installed agent did not answer"; }
  [ "$(stat -c %s "$out/got.bin" 2>/dev/null)" = 4096 ] || fail "$1: the download is not there"
}
# The running agent must end because of what just ran, not later.
expect_agent_stopped() {
  wait_until 5 agent_gone || fail "$1: the agent still runs"
  wait "$agent" 2>/dev/null
  agent=
}
run_value() { wine reg query "$run_key" /v 'Velmora Skytrove v4' 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p'; }
# DisplayVersion of every installed product of ours, one a line.
installed_versions() {
  wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ { name = ""; ver = "" } /DisplayName/ && /Velmora Skytrove v4/ { name = 1 }
         /DisplayVersion/ { ver = $NF } name && ver { print ver; name = "" }'
}
shortcuts() { find "$drive/ProgramData" "$drive/users" -name 'Velmora Skytrove v4.lnk' 2>/dev/null; }
# A value's data as "reg query" shows it, empty when the value is not there.
reg_value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
settings_key='SOFTWARE\Velmora\Utils\Skytrove4'
# An administrator's setting, and the placement the agent keeps for the user.
seed_settings() {
  wine reg add "HKLM\\$settings_key" /v FTPPassiveMode /t REG_DWORD /d 0 /f >/dev/null 2>&1
  local name
  for name in Left Top Right Bottom Maximised; do
    wine reg add "HKCU\\$settings_key" /v $name /t REG_DWORD /d 7 /f >/dev/null 2>&1
  done
}
expect_admin_kept() {
  [ "$(reg_value "HKLM\\$settings_key" FTPPassiveMode)" = 0x0 ] || fail "$1 removed the administrator's FTPPassiveMode"
}
expect_settings_kept() {
  expect_admin_kept "$1"
  [ "$(reg_value "HKCU\\$settings_key" Left)" = 0x7 ] || fail "$1 removed the user's window placement"
}

rm -rf "$out" && mkdir -p "$out"
"$src/packaging/dist.sh" "$build" "$out" "$version" >/dev/null || fail "building the package"
"$src/packaging/dist.sh" "$build" "$out" "$next" >/dev/null || fail "building the next package"
base=VelmoraSkytrove4-$version-x64
want=("$base/" "$base/README.md" "$base/VelmoraSkytrove4.exe" "$base/skytrove-request.exe")
[ -f "$src/docs/protocol.md" ] && want+=("$base/docs/" "$base/docs/protocol.md")
want+=("$base/policy/" "$base/policy/VelmoraSkytrove4.admx" "$base/policy/en-US/" "$base/policy/en-US/VelmoraSkytrove4.adml")
/usr/bin/python3 -c 'import sys, zipfile
got = sorted(zipfile.ZipFile(sys.argv[1]).namelist())
sys.exit(0 if got == sorted(sys.argv[2:]) else "zip holds: %s" % got)' "$out/$base.zip" "${want[@]}" || fail "zip contents"
this_msi=$(winpath "$out/VelmoraSkytrove4-$version-x64.msi")
next_msi=$(winpath "$out/VelmoraSkytrove4-$next-x64.msi")

# A prefix made afresh, headless, with one wineserver kept warm for the whole run.
wineserver -k >/dev/null 2>&1
rm -rf "$WINEPREFIX"
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -k >/dev/null 2>&1
wineserver -p 120 >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1

echo "-- install"
msi /i "$this_msi" || fail "install"
[ -f "$installed/VelmoraSkytrove4.exe" ] && [ -f "$installed/skytrove-request.exe" ] || fail "programs not installed"
[ -f "$installed/policy/VelmoraSkytrove4.admx" ] && [ -f "$installed/policy/en-US/VelmoraSkytrove4.adml" ] ||
  fail "administrative templates not installed"
[ -n "$(shortcuts)" ] || fail "no Start menu shortcut"
[ "$(run_value)" = "\"$agent_win\"" ] || fail "Run value: '$(run_value)'"
[ "$(installed_versions)" = "$version" ] || fail "Apps & features: '$(installed_versions)'"
wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | grep -q 'Publisher *REG_SZ *Velmora' ||
  fail "no publisher"
[ -n "$(find "$drive/windows/Installer" -name velmora.ico)" ] || fail "no product icon"
seed_settings
start_agent R1

echo "-- repair while the agent runs"
rm -f "$installed/skytrove-request.exe"
msi /i "$this_msi" REINSTALL=ALL REINSTALLMODE=vamus || fail "repair"
expect_agent_stopped repair
[ -f "$installed/skytrove-request.exe" ] || fail "repair did not restore the requester"
expect_settings_kept repair

echo "-- upgrade to $next while the agent runs"
start_agent R2
msi /i "$next_msi" || fail "upgrade"
expect_agent_stopped upgrade
[ "$(installed_versions)" = "$next" ] || fail "after the upgrade: '$(installed_versions)'"
[ "$(run_value)" = "\"$agent_win\"" ] || fail "Run value after the upgrade: '$(run_value)'"
# Wine removes the old product by running its uninstall as a plain one, without the
# UPGRADINGPRODUCTCODE that Windows gives it, so here the user's placement goes with the
# upgrade; the old package's part of an upgrade as Windows runs it is checked at the end.
expect_admin_kept upgrade

echo "-- the older build over the newer one"
# Refused by its launch condition; Wine's log of a quiet install does not carry the
# condition's message, so only the refusal is checked.
msi /i "$this_msi" && fail "build $version installed over $next"
[ "$(installed_versions)" = "$next" ] || fail "after the refused downgrade: '$(installed_versions)'"
[ -f "$installed/VelmoraSkytrove4.exe" ] || fail "the refused downgrade removed the program"

echo "-- /Exit"
start_agent R3
timeout 20 wine "$agent_win" /Exit </dev/null >/dev/null 2>&1 || fail "/Exit with an agent: status $?"
expect_agent_stopped "/Exit"
timeout 20 wine "$agent_win" /Exit </dev/null >/dev/null 2>&1 || fail "/Exit without an agent: status $?"

echo "-- uninstall while the agent runs"
seed_settings
start_agent R4
msi /x "$next_msi" || fail "uninstall"
expect_agent_stopped uninstall
left=$(find "$drive" -iname '*velmora*' -o -iname '*skytrove*' 2>/dev/null)
[ -z "$left" ] || fail "left behind: $left"
[ -z "$(run_value)" ] || fail "Run value left"
[ -z "$(installed_versions)" ] || fail "still in Apps & features"
ours=$(wine reg query 'HKLM\SOFTWARE\Velmora' /s 2>/dev/null | tr -d '\r' | grep 'REG_')
[ "$(echo "$ours" | awk '{ print $1 }')" = FTPPassiveMode ] || fail "HKLM after the uninstall holds: $ours"
! wine reg query 'HKCU\SOFTWARE\Velmora' >/dev/null 2>&1 || fail "the user's window placement is left"
expect_admin_kept uninstall

echo "-- AUTOSTART=0, kept by an upgrade"
msi /i "$this_msi" AUTOSTART=0 || fail "install with AUTOSTART=0"
[ -f "$installed/VelmoraSkytrove4.exe" ] || fail "AUTOSTART=0 left out the program"
[ -z "$(run_value)" ] || fail "AUTOSTART=0 wrote the Run value"
msi /i "$next_msi" || fail "upgrade after AUTOSTART=0"
[ -z "$(run_value)" ] || fail "the upgrade brought the Run value back"

echo "-- removed as Windows removes the old product in an upgrade"
seed_settings
msi /x "$next_msi" UPGRADINGPRODUCTCODE='{0ED9BD0C-0000-4000-8000-000000000000}' || fail "second uninstall"
[ ! -e "$installed" ] || fail "second uninstall left the folder"
expect_settings_kept "the uninstall within an upgrade"
echo "PASS"

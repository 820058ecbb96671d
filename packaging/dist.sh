#!/usr/bin/env bash
# Makes the Windows Installer package and the zip from a Windows build:
#   packaging/dist.sh BUILD_DIR OUT_DIR VERSION
# -> OUT_DIR/VelmoraSkytrove4-VERSION-x64.msi and OUT_DIR/VelmoraSkytrove4-VERSION-x64.zip
# VERSION is a.b.c.d (the Makefile reads it from src/support/version.h).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
version=$3
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "dist: version '$version' is not a.b.c.d" >&2; exit 2; }
bin=$build/bin
for exe in VelmoraSkytrove4.exe skytrove-request.exe; do
  [ -f "$bin/$exe" ] || { echo "dist: $bin/$exe is missing (make win64 first)" >&2; exit 2; }
done
base=VelmoraSkytrove4-$version-x64
work=$(mktemp -d "$out/.dist.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The package. wixl (0.101) cannot say two things the package needs, so its tables are
# completed afterwards with msibuild: an upgrade that includes the installed version itself
# (our builds differ in the fourth field, which Windows Installer does not compare), and
# secure properties for AUTOSTART and what the package looks up.
# The whole version, each field zero-padded to its largest width, sorts as text.
IFS=. read -r v1 v2 v3 v4 <<< "$version"
sortable=$(printf '%03d.%03d.%05d.%05d' "$((10#$v1))" "$((10#$v2))" "$((10#$v3))" "$((10#$v4))")
# wixl takes source files by paths relative to where it runs.
(cd "$here" && wixl -a x64 -D Version="$version" -D SortableVersion="$sortable" \
   -D BinDir="$(realpath --relative-to=. "$bin")" -D IconFile=src/app/res/velmora.ico -D PolicyDir=packaging/policy \
   -o "$work/$base.msi" packaging/velmora.wxs)
msiinfo export "$work/$base.msi" Upgrade > "$work/Upgrade.idt"
# Attributes 768: minimum (256) and maximum (512) inclusive. Features do not migrate: the
# package decides the sign-in start itself (AUTOSTART), and a migration would overrule it.
awk 'BEGIN { FS = OFS = "\t" } $7 ~ /^WIX_UPGRADE_DETECTED\r?$/ { $5 = 768 } { print }' \
    "$work/Upgrade.idt" > "$work/Upgrade.new" && mv "$work/Upgrade.new" "$work/Upgrade.idt"
# A property the installing person sets reaches the elevated part of a per-machine
# install only when it is listed as secure.
msiinfo export "$work/$base.msi" Property > "$work/Property.idt"
awk 'BEGIN { FS = OFS = "\t" } $1 == "SecureCustomProperties" { sub(/\r?$/, ";AUTOSTART;SIGNINSTARTFOUND;INSTALLEDVERSION\r", $2) } { print }' \
    "$work/Property.idt" > "$work/Property.new" && mv "$work/Property.new" "$work/Property.idt"
msibuild "$work/$base.msi" -i "$work/Upgrade.idt"
msibuild "$work/$base.msi" -i "$work/Property.idt"

# The zip, for people who do not install: one folder with the programs and the texts, and
# the administrative templates where the package puts them.
mkdir -p "$work/$base/docs" "$work/$base/policy/en-US"
cp "$bin/VelmoraSkytrove4.exe" "$bin/skytrove-request.exe" "$here/README.md" "$work/$base/"
cp "$here/packaging/policy/VelmoraSkytrove4.admx" "$work/$base/policy/"
cp "$here/packaging/policy/en-US/VelmoraSkytrove4.adml" "$work/$base/policy/en-US/"
if [ -f "$here/docs/protocol.md" ]; then cp "$here/docs/protocol.md" "$work/$base/docs/"; else rmdir "$work/$base/docs"; fi
(cd "$work" && zip -X -q -r "$base.zip" "$base")

mv -f "$work/$base.msi" "$work/$base.zip" "$out/"
echo "dist: $out/$base.msi"
echo "dist: $out/$base.zip"

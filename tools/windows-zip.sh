#!/usr/bin/env bash
# Packs BUILD/bin into BUILD/parvane-windows.zip (what a Windows user needs,
# without the test programs), then unpacks it into a fresh folder and wine
# prefix and runs parvane-cli.exe there (tools/windows-cli-check.sh).
#   tools/windows-zip.sh BUILD
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
zip=$build/parvane-windows.zip
stage=$build/zip/parvane
rm -rf "$build/zip" "$zip"
mkdir -p "$stage"
cp "$build/bin/"*.dll "$build/bin/parvane-cli.exe" "$build/bin/null.wav" "$stage/"
cp -r "$build/bin/Lang" "$build/bin/Help" "$stage/"
# The debug information stays in the build folder.
x86_64-w64-mingw32-strip --strip-debug "$stage/"*.dll "$stage/parvane-cli.exe"
(cd "$build/zip" && cmake -E tar cf "$zip" --format=zip parvane)
echo "windows-zip: $zip"

check=$build/zip-check
rm -rf "$check"
mkdir -p "$check/unpacked"
(cd "$check/unpacked" && cmake -E tar xf "$zip")
export WINEPREFIX=$check/wine
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -p
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT
/usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
"$here/windows-cli-check.sh" "$check/unpacked/parvane" "$check/run"

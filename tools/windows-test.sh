#!/usr/bin/env bash
# The Windows build's tests under wine64: the cross-built test suites through
# ctest, the line-device library's export table (64-bit and 32-bit) and the
# tone-detection library's, and parvane-cli.exe (tools/windows-cli-check.sh).
#   tools/windows-test.sh BUILD BUILD_I686 [JOBS]
# Wine runs in a prefix of its own inside BUILD; its server is started once
# (persistent) so that each test does not wait for one to linger and exit,
# and it is stopped again when the tests end. wineboot then starts wine's
# own services away from ctest's pipes: started by the first test program
# instead, they would hold its output open and ctest would wait on it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
build32=$(cd "$2" && pwd)
jobs=${3:-2}
wine_dir=/usr/lib/wine

export WINEPREFIX=$build/wine
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
if "$wine_dir/wineserver" -p 2>/dev/null; then
  trap '"$wine_dir/wineserver" -k >/dev/null 2>&1 || true' EXIT
fi # else one already serves this prefix: it is used and left running
"$wine_dir/wine64" wineboot -i </dev/null >/dev/null 2>&1

status=0
"$here/check-exports.sh" x86_64-w64-mingw32-objdump "$build/bin/FXO.dll" "$here/../tests/windows/fxo-exports.txt" || status=1
"$here/check-exports.sh" i686-w64-mingw32-objdump "$build32/bin/FXO.dll" "$here/../tests/windows/fxo-exports.txt" || status=1
for file in Vexlin.dll Vexlin_02.dll; do
  "$here/check-exports.sh" x86_64-w64-mingw32-objdump "$build/bin/$file" "$here/../tests/windows/vexlin-exports.txt" || status=1
done
(cd "$build" && ctest --output-on-failure -j"$jobs" --timeout 300) || status=1
"$here/windows-cli-check.sh" "$build/bin" "$build/cli-check" || status=1
exit $status

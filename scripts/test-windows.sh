#!/usr/bin/env bash
# Runs the Windows suites under Wine. A wineserver and Wine's own services start beforehand, away
# from ctest's output pipe: those Wine starts on demand would hold that pipe open and keep ctest
# waiting. The Makefile gives it an X display (Xvfb when there is none): the desktop's window
# tests need real windows.
# Usage: test-windows.sh PRESET BUILD_DIR
set -u
preset=$1 build_dir=$2
export WINEPREFIX=$PWD/$build_dir/wineprefix
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d" WINEDEBUG=-all
# The build lists each suite's cases under Wine, with no display; a Wine server and desktop
# left from that would serve this run too, and every window case would get no window. So the
# run starts on a server of its own.
wineserver -k 2>/dev/null
wineserver -w
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
wineserver -p
wine cmd /c exit </dev/null >/dev/null 2>&1
# Wine ends its desktop about a second after the last program has gone; window cases that
# started just then found no window. An idle cmd, reading a pipe that closes when this script
# ends, keeps the desktop up for the whole run.
exec 3> >(exec wine cmd >/dev/null 2>&1)
# Wine's desktop starts with the first window; a window case run beforehand brings it up
# before ctest starts.
warm_up=$build_dir/bin/ui_win32_tests.exe
for try in 1 2 3; do
  [ -f "$warm_up" ] || break
  wine "$warm_up" --gtest_filter='Win32/EditControlContract.EmptyTextCountsOneLine/*' \
    </dev/null >/dev/null 2>&1 && break
  sleep 1
done
ctest --preset "$preset" 3>&- | tee "$build_dir/ctest.log"
status=${PIPESTATUS[0]}
exec 3>&-
wineserver -k
echo "Windows ($preset, under Wine): $(grep -E 'tests passed' "$build_dir/ctest.log")"
exit "$status"

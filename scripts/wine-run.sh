#!/bin/sh
# wine-run.sh PREFIX PROGRAM [ARGS...]: runs a Windows program under Wine in the build tree's
# own prefix, with Wine's crash debugger and its .NET and HTML helpers off, so a crash is a
# failure and no dialog waits for anyone. The prefix is made on first use.
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEDEBUG=-all
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix" && wineboot -i >/dev/null 2>&1
fi
exec wine "$@"

#!/bin/bash
# same-exchange.sh LINUX_BIN WINE_RUN PREFIX WINDOWS_CLI: the Linux tarven-cli and
# tarven-cli.exe run the same description against the Linux loopback peer. The bytes each
# sent must be equal, and so must the transcripts but for the date line. Exit 77 (skipped)
# when the Linux build is missing.
linux_bin=$1 wine_run=$2 prefix=$3 windows_cli=$4
[ -x "$linux_bin/tarven-cli" ] && [ -x "$linux_bin/tarven-peer" ] || {
  echo "no Linux build in $linux_bin"; exit 77; }
work=$(mktemp -d) || exit 1
peer=
trap '[ -n "$peer" ] && kill "$peer" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1

"$linux_bin/tarven-peer" --record wire >port 2>/dev/null &
peer=$!
for _ in $(seq 100); do [ -s port ] && break; sleep 0.05; done
printf '%s\n' "TARVEN_connect: 127.0.0.1" "TARVEN_port: $(cat port)" \
  "TARVEN_request: GET /update?host=caf%C3%A9 HTTP/1.0" "Host: example.test" \
  "X-Note: grüße, 日本" >tarven.txt

run() {  # run NAME COMMAND...: one run; the peer has written its request when it returns
  local name=$1
  shift
  "$@" --file tarven.txt >"$name.log" 2>"$name.err"
  echo "exit status $?" >>"$name.log"
  mv wire "$name.wire" 2>/dev/null
}
run linux "$linux_bin/tarven-cli"
run windows "$wine_run" "$prefix" "$windows_cli"

status=0
cmp linux.wire windows.wire || { echo "the wire bytes differ"; status=1; }
[ -s linux.wire ] || { echo "nothing was sent"; status=1; }
strip() { grep -avE '^[0-9]{4}/[0-9]{2}/[0-9]{2}:[0-9]{2}:[0-9]{2}' "$1"; }
diff <(strip linux.log) <(strip windows.log) || { echo "the transcripts differ"; status=1; }
exit $status

#!/usr/bin/env bash
# Shows the main job on a machine without internet: a demo peer on 127.0.0.1 answers the
# example description beside the programs, and the desktop program (with a display) or the
# console program (without one) runs it.
set -euo pipefail

build_dir=${1:-build/debug}
bin="$build_dir/bin"
description="$bin/tarven.txt"
marker="# Example written by make run"

peer_pid=""
cleanup() { [ -n "$peer_pid" ] && kill "$peer_pid" 2>/dev/null || true; }
trap cleanup EXIT

# A description the user wrote is run as it stands; the example is rewritten for a new peer.
if [ ! -e "$description" ] || head -n 1 "$description" | grep -qF "$marker"; then
  port_file=$(mktemp)
  "$bin/tarven-peer" >"$port_file" &
  peer_pid=$!
  for _ in $(seq 50); do [ -s "$port_file" ] && break; sleep 0.1; done
  port=$(head -n 1 "$port_file")
  rm -f "$port_file"
  [ -n "$port" ] || { echo "run-demo: the demo peer did not start" >&2; exit 1; }
  cat >"$description" <<EXAMPLE
$marker. Edit it, or delete it to get a fresh one.
# Each line is a key, a space, and a value. Lines starting with # are comments.
# The server: a host name or a dotted address, and its port.
TARVEN_connect: 127.0.0.1
TARVEN_port: $port
# The request line. %IPADDRESS% becomes this machine's IPv4 address.
# HTTP/1.0 or "Connection: close" lets the server close at once; a server that keeps
# the connection open costs every run five seconds of silence.
TARVEN_request: GET /heartbeat?ip=%IPADDRESS% HTTP/1.0
# Every other line is sent as a header line, in this order.
Host: 127.0.0.1
User-Agent: tarven/0.1
Connection: close
# A body (a Content-length line is added for it) and Basic credentials:
#TARVEN_postbody: status=up
#TARVEN_basicauth: user:password
EXAMPLE
  echo "run-demo: demo peer on 127.0.0.1:$port, description in $description"
fi

if { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; } && [ -x "$bin/tarven" ]; then
  echo "run-demo: starting the desktop program; press TEST to send the request"
  "$bin/tarven"
else
  "$bin/tarven-cli" || echo "run-demo: the run failed (exit $?)"
fi

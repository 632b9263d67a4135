#!/usr/bin/env bash
# The end-to-end benchmark behind `make bench`. Builds the release preset, runs the
# micro-benchmarks, then starts its own nginx on 127.0.0.1 and has three clients fetch the same
# answers with the same request, in turn: tarven-cli, curl and the floor client (connect, send,
# readiness wait plus a 512-byte receive, nothing else). Then the same answers over HTTPS, from
# tarven-cli and curl, against a throw-away certificate made here. Prints medians and ratios.
#
# Environment: BENCH_RUNS (runs per client and case, 30), BENCH_MICRO=0 (skip the
# micro-benchmarks), BENCH_LARGE_MB (size of the large answer, 50).
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${BENCH_RUNS:-30}
large_mb=${BENCH_LARGE_MB:-50}
build_dir=build/release
bin=$build_dir/bin

# Everything comes from Debian 12 packages.
source bench/common.sh
require_packages cmake g++ make libbenchmark-dev nginx-light curl openssl

cmake --preset release >/dev/null
cmake --build --preset release -j2

echo
echo "== Machine"
echo "cores: $(nproc), CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "memory: $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

if [ "${BENCH_MICRO:-1}" != 0 ]; then
  echo
  echo "== Micro-benchmarks"
  "$bin/tarven_bench"
  if [ -x "$bin/tarven_bench_qt" ]; then
    QT_QPA_PLATFORM=offscreen "$bin/tarven_bench_qt"
  fi
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tarven-bench-XXXXXX")
nginx_pid=""
cleanup() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The answers: 300 bytes, and lines of text with CR LF so that the log's trimming runs too.
mkdir -p "$work/www" "$work/temp"
head -c 300 < <(yes 'Tarven benchmark answer, three hundred bytes in all.') >"$work/www/small.txt"
head -c $((large_mb * 1024 * 1024)) \
  < <(yes $'0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789 ..\r') \
  >"$work/www/large.txt"

# A throw-away self-signed certificate for 127.0.0.1, trusted by both clients through a file.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$work/tls.key" -out "$work/tls.pem" 2>/dev/null

start_nginx "$work" "$bin/tarven-measure"
port=$nginx_port
tls_port=$nginx_tls_port

# One request for all three clients: tarven fills in this machine's address, and the bytes it
# logs as sent become the floor client's request and curl's options.
agent="tarven-bench/0.1"
padding="request-padding-to-about-two-hundred-bytes-0123456789abcdefghijklmnopqrstuvwxyz"
describe() {  # path on the server, description file
  cat >"$2" <<DESC
TARVEN_connect: 127.0.0.1
TARVEN_port: $port
TARVEN_request: GET $1?ip=%IPADDRESS% HTTP/1.0
Host: 127.0.0.1:$port
User-Agent: $agent
Accept: */*
X-Bench: $padding
DESC
}
sent_request() {  # tarven log -> the request bytes it sent
  sed -n '/^\*\* Connceted\./,/^\r$/p' "$1" | tail -n +2
}
for name in small large; do
  describe "/$name.txt" "$work/$name-tarven.txt"
  "$bin/tarven-cli" --file "$work/$name-tarven.txt" >"$work/$name-check.log" ||
    { echo "bench: tarven-cli failed:"; cat "$work/$name-check.log"; exit 1; }
  sent_request "$work/$name-check.log" >"$work/$name-request.bin"
  request_line=$(head -n 1 "$work/$name-request.bin" | tr -d '\r')
  printf -v "${name}_target" '%s' "http://127.0.0.1:$port${request_line#GET }"
done
small_url=${small_target% HTTP/1.0}
large_url=${large_target% HTTP/1.0}

curl_args=(-s --http1.0 -H "Host: 127.0.0.1:$port" -A "$agent" -H "Accept: */*"
           -H "X-Bench: $padding" -o /dev/null)

echo
echo "== Checks"
echo "request bytes: $(wc -c <"$work/small-request.bin") (small), $(wc -c <"$work/large-request.bin") (large)"
curl "${curl_args[@]}" -v "$small_url" 2>&1 | sed -n 's/^> //p' >"$work/curl-request.txt"
# curl -v shows each line sent after "> ", with its CR.
if cmp -s "$work/small-request.bin" "$work/curl-request.txt"; then
  echo "curl sends the same request bytes as tarven-cli: yes"
else
  echo "curl sends the same request bytes as tarven-cli: NO"
  diff "$work/small-request.bin" "$work/curl-request.txt" | cat -A || true
fi
large_bytes=$(wc -c <"$work/www/large.txt")
"$bin/tarven-floor-client" 127.0.0.1 "$port" "$work/large-request.bin" >"$work/floor.out"
curl "${curl_args[@]/\/dev\/null/$work/curl.out}" "$large_url"
echo "large answer received whole: tarven-cli $(grep -c $'^0123456789 abc' "$work/large-check.log") lines," \
  "floor $(tail -c "$large_bytes" "$work/floor.out" | cmp -s - "$work/www/large.txt" && echo yes || echo NO)," \
  "curl $(cmp -s "$work/curl.out" "$work/www/large.txt" && echo yes || echo NO)" \
  "(the answer has $(grep -c . "$work/www/large.txt") lines)"
rm -f "$work/floor.out" "$work/curl.out" "$work/large-check.log"

# Runs each client in turn, `runs` times; appends "client seconds rss_kib status" lines.
measure_case() {  # case name
  local name=$1 i
  local url_var=${name}_url
  local out=$work/$name.results
  : >"$out"
  for ((i = 0; i < runs; i++)); do
    echo "tarven $("$bin/tarven-measure" -- "$bin/tarven-cli" --file "$work/$name-tarven.txt")" >>"$out"
    echo "curl $("$bin/tarven-measure" -- curl "${curl_args[@]}" "${!url_var}")" >>"$out"
    echo "floor $("$bin/tarven-measure" -- "$bin/tarven-floor-client" 127.0.0.1 "$port" \
      "$work/$name-request.bin")" >>"$out"
  done
  if awk '$4 != 0 { bad = 1 } END { exit !bad }' "$out"; then
    echo "bench: some runs of the $name case failed:"
    awk '$4 != 0' "$out"
  fi
}
median() {  # results file, client, column
  awk -v c="$2" -v k="$3" '$1 == c { print $k }' "$1" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The HTTPS cases: the same requests to the TLS port, verified against the throw-away
# certificate; curl gets the same trust file.
for name in small large; do
  sed -e "s/^TARVEN_port: .*/TARVEN_port: $tls_port\nTARVEN_tls: on\nTARVEN_cafile: ${work//\//\\/}\/tls.pem/" \
    -e "s/^Host: .*/Host: 127.0.0.1:$tls_port/" "$work/$name-tarven.txt" >"$work/$name-tls-tarven.txt"
done
"$bin/tarven-cli" --file "$work/small-tls-tarven.txt" >"$work/small-tls-check.log" ||
  { echo "bench: tarven-cli over TLS failed:"; cat "$work/small-tls-check.log"; exit 1; }
tls_line=$(grep -a '^\*\* TLS' "$work/small-tls-check.log" | tr -d '\r')
echo "TLS: $tls_line"
small_tls_url=https://127.0.0.1:$tls_port${small_url#http://127.0.0.1:$port}
large_tls_url=https://127.0.0.1:$tls_port${large_url#http://127.0.0.1:$port}
tls_curl_args=(-s --http1.0 --cacert "$work/tls.pem" -H "Host: 127.0.0.1:$tls_port" -A "$agent"
               -H "Accept: */*" -H "X-Bench: $padding" -o /dev/null)
measure_tls_case() {  # case name
  local name=$1 i
  local url_var=${name}_tls_url
  local out=$work/$name-tls.results
  : >"$out"
  for ((i = 0; i < runs; i++)); do
    echo "tarven $("$bin/tarven-measure" -- "$bin/tarven-cli" --file "$work/$name-tls-tarven.txt")" >>"$out"
    echo "curl $("$bin/tarven-measure" -- curl "${tls_curl_args[@]}" "${!url_var}")" >>"$out"
  done
  if awk '$4 != 0 { bad = 1 } END { exit !bad }' "$out"; then
    echo "bench: some runs of the $name HTTPS case failed:"
    awk '$4 != 0' "$out"
  fi
}

echo
echo "== Measuring: $runs runs per client and case, alternating"
measure_case small
measure_case large
measure_tls_case small
measure_tls_case large
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

declare -A wall rss
declare -A label=([tarven]=tarven-cli [curl]=curl [floor]="floor client")
for name in small large; do
  for client in tarven curl floor; do
    wall[$name.$client]=$(median "$work/$name.results" "$client" 2)
    rss[$name.$client]=$(median "$work/$name.results" "$client" 3)
  done
  for client in tarven curl; do
    wall[$name-tls.$client]=$(median "$work/$name-tls.results" "$client" 2)
    rss[$name-tls.$client]=$(median "$work/$name-tls.results" "$client" 3)
  done
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
ms() { awk -v s="$1" 'BEGIN { printf "%.2f", s * 1000 }'; }
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t ? "met" : "MISSED") }'; }

echo
echo "== Results (medians of $runs runs; load $load_after)"
echo
echo "Small exchange: $(wc -c <"$work/small-request.bin")-byte request, 300-byte answer"
echo
echo "| client | wall ms | × curl | × floor | peak RSS KiB | × curl |"
echo "|---|---:|---:|---:|---:|---:|"
for client in tarven curl floor; do
  echo "| ${label[$client]} | $(ms "${wall[small.$client]}") | $(ratio "${wall[small.$client]}" "${wall[small.curl]}") |" \
    "$(ratio "${wall[small.$client]}" "${wall[small.floor]}") | ${rss[small.$client]} |" \
    "$(ratio "${rss[small.$client]}" "${rss[small.curl]}") |"
done
echo
echo "Large answer: $large_mb MB (${large_bytes} bytes) of CR LF lines"
echo
echo "| client | wall ms | MB/s | × curl | × floor | peak RSS KiB | × curl |"
echo "|---|---:|---:|---:|---:|---:|---:|"
for client in tarven curl floor; do
  echo "| ${label[$client]} | $(ms "${wall[large.$client]}") |" \
    "$(awk -v s="${wall[large.$client]}" -v m="$large_mb" 'BEGIN { printf "%.1f", m / s }') |" \
    "$(ratio "${wall[large.$client]}" "${wall[large.curl]}") |" \
    "$(ratio "${wall[large.$client]}" "${wall[large.floor]}") | ${rss[large.$client]} |" \
    "$(ratio "${rss[large.$client]}" "${rss[large.curl]}") |"
done
echo
echo "Targets"
small_ratio=$(ratio "${wall[small.tarven]}" "${wall[small.curl]}")
large_ratio=$(ratio "${wall[large.tarven]}" "${wall[large.floor]}")
echo "- small exchange, tarven-cli wall ≤ 0.30 × curl: $small_ratio, $(verdict "$small_ratio" 0.30)"
echo "- small exchange, tarven-cli peak RSS < curl: ${rss[small.tarven]} vs ${rss[small.curl]} KiB," \
  "$(awk -v a="${rss[small.tarven]}" -v b="${rss[small.curl]}" 'BEGIN { print (a < b ? "met" : "MISSED") }')"
echo "- large answer, tarven-cli wall ≤ 1.5 × floor: $large_ratio, $(verdict "$large_ratio" 1.5)"
echo "- large answer, tarven-cli peak RSS < 10 MB (10240 KiB): ${rss[large.tarven]} KiB," \
  "$(verdict "${rss[large.tarven]}" 10239)"
echo "- tarven-cli peak RSS, large vs small answer: ${rss[large.tarven]} vs ${rss[small.tarven]} KiB" \
  "(not growing with the answer: $(verdict "${rss[large.tarven]}" "$((rss[small.tarven] + 512))"))"

echo
tls_shown=${tls_line#\*\* TLS: }
echo "HTTPS (${tls_shown%.}), same requests and answers"
echo
echo "| case | client | wall ms | × curl | peak RSS KiB | × curl |"
echo "|---|---|---:|---:|---:|---:|"
for name in small large; do
  for client in tarven curl; do
    echo "| $name | ${label[$client]} | $(ms "${wall[$name-tls.$client]}") |" \
      "$(ratio "${wall[$name-tls.$client]}" "${wall[$name-tls.curl]}") | ${rss[$name-tls.$client]} |" \
      "$(ratio "${rss[$name-tls.$client]}" "${rss[$name-tls.curl]}") |"
  done
done
echo
echo "HTTPS targets"
tls_small_wall=$(ratio "${wall[small-tls.tarven]}" "${wall[small-tls.curl]}")
tls_small_rss=$(ratio "${rss[small-tls.tarven]}" "${rss[small-tls.curl]}")
tls_large=$(ratio "${wall[large-tls.tarven]}" "${wall[large.tarven]}")
echo "- small HTTPS exchange, tarven-cli wall ≤ 0.5 × curl: $tls_small_wall, $(verdict "$tls_small_wall" 0.5)"
echo "- small HTTPS exchange, tarven-cli peak RSS ≤ 0.5 × curl: $tls_small_rss, $(verdict "$tls_small_rss" 0.5)"
echo "- $large_mb MB over TLS, tarven-cli wall ≤ 1.3 × its plain-HTTP time: $tls_large, $(verdict "$tls_large" 1.3)"

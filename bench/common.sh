# Sourced by the benchmark scripts.

# Checks that the Debian 12 packages are installed; as root installs the missing ones with
# apt-get, otherwise prints the apt-get line and fails.
# Usage: require_packages PACKAGE...
require_packages() {
  local missing="" p
  for p in "$@"; do
    case $p in
      nginx-light) command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || missing="$missing $p" ;;
      *) dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
           missing="$missing $p" ;;
    esac
  done
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" = 0 ]; then
    echo "Installing:$missing"
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
      --no-install-recommends $missing
  else
    echo "Missing packages. Install them with:"
    echo "  sudo apt-get install -y$missing"
    return 1
  fi
}

# Starts Debian's nginx on 127.0.0.1 with a configuration of its own, serving "$1/www" and
# keeping its pid file, logs and temporary files under "$1". Sets nginx_pid and nginx_port; the
# caller stops it (kill "$nginx_pid") in its exit trap. When "$1/tls.pem" and "$1/tls.key"
# exist, it also serves the same folder over TLS on nginx_tls_port.
# Usage: start_nginx WORK_DIR MEASURE_HELPER
start_nginx() {
  local work=$1 measure=$2 nginx_bin
  nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
  nginx_port=$("$measure" --free-port)
  local tls_server=""
  if [ -f "$work/tls.pem" ]; then
    nginx_tls_port=$("$measure" --free-port)
    tls_server="server {
    listen 127.0.0.1:$nginx_tls_port ssl;
    ssl_certificate $work/tls.pem;
    ssl_certificate_key $work/tls.key;
    # nginx 1.22 stops at TLS 1.2 by default; most servers today offer 1.3.
    ssl_protocols TLSv1.2 TLSv1.3;
    root $work/www;
  }"
  fi
  mkdir -p "$work/www" "$work/temp"
  cat >"$work/nginx.conf" <<CONF
worker_processes 1;
master_process off;
daemon off;
pid $work/nginx.pid;
error_log $work/error.log warn;
events { worker_connections 64; }
http {
  access_log $work/access.log;
  client_body_temp_path $work/temp/body;
  proxy_temp_path $work/temp/proxy;
  fastcgi_temp_path $work/temp/fastcgi;
  uwsgi_temp_path $work/temp/uwsgi;
  scgi_temp_path $work/temp/scgi;
  default_type text/plain;
  sendfile on;
  # Each connection closes after its answer, so every client ends on the server's close.
  keepalive_timeout 0;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/www;
  }
  $tls_server
}
CONF
  "$nginx_bin" -p "$work" -e "$work/error.log" -c "$work/nginx.conf" &
  nginx_pid=$!
  local _
  for _ in $(seq 50); do
    curl -s -o /dev/null "http://127.0.0.1:$nginx_port/" && return 0
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "bench: nginx did not start:" >&2
  cat "$work/error.log" >&2
  return 1
}

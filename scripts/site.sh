#!/usr/bin/env bash
# Serves the maker's site (site/www) with nginx on loopback, as the current user.
#   scripts/site.sh start [port]   start it (default port 8431), print its base address
#   scripts/site.sh stop [port]    stop it
#   scripts/site.sh status [port]
# Everything nginx writes (configuration, pid, logs, temporary folders) lies in the runtime folder
# $QUILMER_SITE_RUNTIME, default ${XDG_RUNTIME_DIR:-/tmp}/quilmer-site-<port>; no system file is
# touched. Point the program at it with QUILMER_SITE_URL=http://127.0.0.1:<port>.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
action=${1:-}
port=${2:-8431}
case "$port" in ''|*[!0-9]*) echo "site.sh: bad port '$port'" >&2; exit 2;; esac
runtime=${QUILMER_SITE_RUNTIME:-${XDG_RUNTIME_DIR:-/tmp}/quilmer-site-$port}
nginx_bin=${NGINX:-$(command -v nginx || echo /usr/sbin/nginx)}

running() { [ -f "$runtime/nginx.pid" ] && kill -0 "$(cat "$runtime/nginx.pid")" 2>/dev/null; }

case "$action" in
  start)
    if running; then echo "http://127.0.0.1:$port"; exit 0; fi
    mkdir -p "$runtime"
    user_line=""
    # nginx started by root hands its worker to "nobody" unless told otherwise.
    if [ "$(id -u)" -eq 0 ]; then user_line="user $(id -un) $(id -gn);"; fi
    sed -e "s|@PORT@|$port|g" -e "s|@ROOT@|$here/site/www|g" -e "s|@RUNTIME@|$runtime|g" \
        -e "s|@USER@|$user_line|" "$here/site/nginx.conf.in" > "$runtime/nginx.conf"
    "$nginx_bin" -p "$runtime" -e "$runtime/error.log" -c "$runtime/nginx.conf" -g 'daemon on;'
    for _ in $(seq 50); do running && break; sleep 0.1; done
    running || { echo "site.sh: nginx did not start; see $runtime/error.log" >&2; exit 1; }
    echo "http://127.0.0.1:$port"
    ;;
  stop)
    if running; then
      pid=$(cat "$runtime/nginx.pid")
      kill -QUIT "$pid"
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    ;;
  status)
    if running; then echo "running: http://127.0.0.1:$port ($runtime)"; else echo "stopped"; exit 1; fi
    ;;
  *)
    echo "usage: scripts/site.sh start|stop|status [port]" >&2; exit 2;;
esac

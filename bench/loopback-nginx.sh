# Sourced by the benchmarks that need a stock web server on the loopback:
#   make_work NAME            a fresh folder in $work, removed (and nginx
#                             ended) when the script exits
#   free_port                 prints a loopback port nothing listens on
#   start_nginx WORK PORT [EXTRA_SERVER_LINES]
# serves WORK/www on 127.0.0.1:PORT with a private configuration, logs and
# temporary files under WORK, waits until WORK/www/page.html answers and
# leaves the server's process id in nginx_pid (the caller ends it).
# NGINX_LISTEN (default 127.0.0.1) is the address it listens on, and
# NGINX_NETNS a network namespace to run it (and the probe) in.
start_nginx() {
    local work=$1 port=$2 extra=${3:-} listen=${NGINX_LISTEN:-127.0.0.1}
    local in=()
    [[ -n "${NGINX_NETNS:-}" ]] && in=(ip netns exec "$NGINX_NETNS")
    mkdir -p "$work/logs" "$work/tmp"
    cat >"$work/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $work/tmp;
    proxy_temp_path $work/tmp;
    fastcgi_temp_path $work/tmp;
    uwsgi_temp_path $work/tmp;
    scgi_temp_path $work/tmp;
    server {
        listen $listen:$port;
        root $work/www;
        $extra
    }
}
CONF
    "${in[@]}" /usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -g 'daemon off;' &
    nginx_pid=$!
    for _ in $(seq 1 50); do
        "${in[@]}" curl -s --noproxy '*' -o /dev/null "http://127.0.0.1:$port/page.html" && break
        sleep 0.1
    done
}

make_work() {
    work=$(mktemp -d "/tmp/kestrelle-$1-XXXXXX")
    # nginx started by root serves as "nobody", which must be able to read the pages.
    chmod 755 "$work"
    nginx_pid=
    trap 'if [[ -n "$nginx_pid" ]]; then kill "$nginx_pid" 2>/dev/null; wait "$nginx_pid" 2>/dev/null; fi; rm -rf "$work"' EXIT
}

free_port() {
    /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

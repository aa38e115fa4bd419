# Sourced by the benchmarks that need a stock web server on the loopback:
#   start_nginx WORK PORT [EXTRA_SERVER_LINES]
# serves WORK/www on 127.0.0.1:PORT with a private configuration, logs and
# temporary files under WORK, waits until WORK/www/page.html answers and
# leaves the server's process id in nginx_pid (the caller ends it).
start_nginx() {
    local work=$1 port=$2 extra=${3:-}
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
        listen 127.0.0.1:$port;
        root $work/www;
        $extra
    }
}
CONF
    /usr/sbin/nginx -p "$work" -c "$work/nginx.conf" -g 'daemon off;' &
    nginx_pid=$!
    for _ in $(seq 1 50); do
        curl -s --noproxy '*' -o /dev/null "http://127.0.0.1:$port/page.html" && break
        sleep 0.1
    done
}

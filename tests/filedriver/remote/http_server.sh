#!/usr/bin/env bash
# Runs a test program against a real nginx on 127.0.0.1, serving HTTP and HTTPS (a CA and a certificate
# made here with openssl) from a document root of the test's own, with the tests' fault proxy in front.
#   http_server.sh PROGRAM PROXY [EMULATOR]
# PROXY is the FaultProxy program, or its source (compiled here with the host's compiler, for the
# Windows build). EMULATOR (Wine) runs PROGRAM; paths handed to it are then Windows paths.
# The program finds everything in its environment (GLEANER_TEST_*). nginx and the proxy are stopped
# whatever happens; every wait is bounded. Exits with the program's status, or 77 when no nginx can run.
set -uo pipefail

program=$1
proxy=$2
emulator=${3:-}

if ! command -v nginx >/dev/null && [[ ! -x /usr/sbin/nginx ]]; then
    echo "SKIPPED: nginx is not installed (scripts/setup.sh installs nginx-light)"
    exit 77
fi
nginx=$(command -v nginx || echo /usr/sbin/nginx)

work=$(mktemp -d "${TMPDIR:-/tmp}/gleaner-http.XXXXXX")
nginx_pid=
proxy_pid=
stop() {
    # TERM first, then KILL after at most 5 s; only the processes started here.
    for pid in $proxy_pid $nginx_pid; do
        kill -TERM "$pid" 2>/dev/null
    done
    for pid in $proxy_pid $nginx_pid; do
        for ((i = 0; i < 50; i++)); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 130' INT TERM HUP

# nginx's workers run as another user when it is started by root: everything here is readable.
umask 022
chmod 755 "$work"
mkdir -p "$work/www" "$work/tmp" "$work/logs"

# The test CA and the server's certificate for 127.0.0.1 and localhost.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=GleanerQt test CA" \
    -keyout "$work/ca.key" -out "$work/ca.pem" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" >/dev/null 2>&1 || { echo "openssl could not make a CA"; exit 1; }
openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout "$work/server.key" -out "$work/server.csr" \
    >/dev/null 2>&1 || exit 1
printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' \
    > "$work/server.ext"
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial -days 2 \
    -extfile "$work/server.ext" -out "$work/server.pem" >/dev/null 2>&1 || exit 1

# user "reader", password "s3cret", for /private/.
echo "reader:$(openssl passwd -apr1 s3cret)" > "$work/htpasswd"

write_config() {
    local http=$1 https=$2
    cat > "$work/nginx.conf" <<CONF
worker_processes 1;
error_log $work/logs/error.log;
pid $work/nginx.pid;
events { worker_connections 512; }
http {
    default_type application/octet-stream;
    log_format counts '\$request_method \$request_uri \$status "\$http_range" "\$http_if_match\$http_if_unmodified_since" "\$args" \$connection';
    access_log $work/logs/access.log counts;
    client_body_temp_path $work/tmp/body;
    proxy_temp_path $work/tmp/proxy;
    fastcgi_temp_path $work/tmp/fastcgi;
    uwsgi_temp_path $work/tmp/uwsgi;
    scgi_temp_path $work/tmp/scgi;
    keepalive_requests 10000;
    server {
        listen 127.0.0.1:$http;
        root $work/www;
        location /moved/ { rewrite ^/moved/(.*)\$ /\$1 permanent; }
        location /found/ { rewrite ^/found/(.*)\$ /\$1 redirect; }
        location /tohttps/ { rewrite ^/tohttps/(.*)\$ https://localhost:$https/\$1 redirect; }
        location /loop/ { rewrite ^/loop/(.*)\$ /loop/\$1 redirect; }
        location /private/ {
            auth_basic "test";
            auth_basic_user_file $work/htpasswd;
            rewrite ^/private/(.*)\$ /\$1 break;
        }
        location /bearer/ {
            if (\$http_authorization != "Bearer t0ken") { return 401; }
            rewrite ^/bearer/(.*)\$ /\$1 break;
        }
        location /signed/ {
            if (\$arg_sig != "s3cret") { return 403; }
            rewrite ^/signed/(.*)\$ /\$1 break;
        }
        location /teapot/ { return 418; }
    }
    server {
        listen 127.0.0.1:$https ssl;
        ssl_certificate $work/server.pem;
        ssl_certificate_key $work/server.key;
        root $work/www;
        location /tohttp/ { rewrite ^/tohttp/(.*)\$ http://127.0.0.1:$http/\$1 redirect; }
    }
}
CONF
}

port_free() {
    ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Free ports, tried until nginx binds them (other tests may take a port between the check and the bind).
started=no
for ((try = 0; try < 20; try++)); do
    http=$((20000 + RANDOM % 40000))
    https=$((http + 1))
    port_free "$http" && port_free "$https" || continue
    write_config "$http" "$https"
    "$nginx" -p "$work" -c "$work/nginx.conf" -g 'daemon off;' 2>>"$work/logs/start.log" &
    nginx_pid=$!
    for ((i = 0; i < 50; i++)); do
        if ! kill -0 "$nginx_pid" 2>/dev/null; then
            break
        fi
        if ! port_free "$http" && ! port_free "$https"; then
            started=yes
            break
        fi
        sleep 0.1
    done
    [[ $started == yes ]] && break
    kill -KILL "$nginx_pid" 2>/dev/null
    wait "$nginx_pid" 2>/dev/null
    nginx_pid=
done
if [[ $started != yes ]]; then
    echo "nginx did not start:"
    cat "$work/logs/start.log" "$work/logs/error.log" 2>/dev/null
    exit 1
fi

if [[ $proxy == *.cpp ]]; then
    c++ -std=c++17 -O2 -pthread -o "$work/FaultProxy" "$proxy" || { echo "cannot build the fault proxy"; exit 1; }
    proxy=$work/FaultProxy
fi
coproc PROXY { exec "$proxy" "$http"; }
proxy_pid=$PROXY_PID
proxy_port=
read -r -t 10 proxy_port <&"${PROXY[0]}"
if [[ -z $proxy_port ]]; then
    echo "the fault proxy did not start"
    exit 1
fi

# HTTPS is reached as localhost: Wine checks a certificate's DNS names only, not its IP addresses.
# Paths as the program sees them: Wine maps / to drive Z:.
native() {
    if [[ -n $emulator ]]; then
        printf 'Z:%s' "${1//\//\\}"
    else
        printf '%s' "$1"
    fi
}
export GLEANER_TEST_HTTP="http://127.0.0.1:$http"
export GLEANER_TEST_HTTPS="https://localhost:$https"
export GLEANER_TEST_PROXY="http://127.0.0.1:$proxy_port"
export GLEANER_TEST_DOCROOT=$(native "$work/www")
export GLEANER_TEST_ACCESS_LOG=$(native "$work/logs/access.log")
export GLEANER_TEST_CA=$(native "$work/ca.pem")
export GLEANER_TEST_SCRATCH=$(native "$work/tmp")
# Nothing of the machine's own settings: no proxy, no netrc, a cache of the test's own.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export GLEANER_NETRC=$(native "$work/no-netrc")

if [[ -n $emulator ]]; then
    timeout 600 "$emulator" "$program"
else
    timeout 600 "$program"
fi
status=$?
if [[ $status != 0 ]]; then
    echo "--- nginx's access log ---"
    tail -n 40 "$work/logs/access.log"
fi
exit $status

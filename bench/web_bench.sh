#!/usr/bin/env bash
# Web mode against curl at the speed of the internet: 300 models of 2 to 40 KB on nginx (HTTPS with
# an ECDSA certificate, keep-alive on), reached through bench/latency_proxy.py, which adds a round
# trip of 40 ms. Measured in the same run: curl --parallel --parallel-max 6 (the baseline), then
# curl -z asking for every file again once it is there; boxtally-cli's default run (HEAD and GET,
# 6 downloads), --connect-fix, --downloads 1, and the second run over an unchanged server
# (conditional GETs). Wall-clock times are the best of three; CPU times (user + system, the least
# of three first runs) come from GNU time. Every figure is printed with its ratio to its curl baseline.
# Usage: bench/web_bench.sh [BIN_DIR] (default: build/bin).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$src/build/bin}" && pwd)
models=${WEB_BENCH_MODELS:-300}
rtt_ms=${WEB_BENCH_RTT_MS:-40}
nginx=$(command -v nginx || echo /usr/sbin/nginx)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/web-bench.XXXXXX")
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$tmp"; }
trap cleanup EXIT

# Models of 2 to 40 KB: vertices of varied numbers, which zip cannot squeeze to nothing.
mkdir -p "$tmp/site/objects" "$tmp/src" "$tmp/nginx/tmp"
for i in $(seq 1 "$models"); do
  lines=$(( (i * 7919) % 900 + 50 ))
  awk -v n="$lines" -v s="$i" 'BEGIN { srand(s); print "modelbegin"; print "clumpbegin";
    for (k = 0; k < n; k++) printf "vertex %.6f %.6f %.6f\n", rand() * 4 - 2, rand() * 3, rand();
    print "clumpend"; print "modelend" }' > "$tmp/src/m$i.rwx"
  (cd "$tmp/src" && zip -q -X "../site/objects/m$i.zip" "m$i.rwx")
  echo "m$i.rwx" >> "$tmp/list.txt"
done
touch -d '2024-01-02 03:04:05 UTC' "$tmp"/site/objects/*.zip
zipped=$(cat "$tmp"/site/objects/*.zip | wc -c)

(cd "$tmp" && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
  -keyout ca.key -out ca.pem -days 2 -subj /CN=bench-ca \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign >/dev/null 2>&1
 printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' > srv.ext
 openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout srv.key -out srv.csr \
   -subj /CN=127.0.0.1 >/dev/null 2>&1
 openssl x509 -req -in srv.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out srv.pem \
   -extfile srv.ext >/dev/null 2>&1)

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$tmp/nginx/nginx.conf" <<EOF
daemon off; master_process off; worker_processes 1;
pid $tmp/nginx/nginx.pid; error_log $tmp/nginx/error.log warn;
events { worker_connections 512; }
http {
  client_body_temp_path $tmp/nginx/tmp; proxy_temp_path $tmp/nginx/tmp;
  fastcgi_temp_path $tmp/nginx/tmp; uwsgi_temp_path $tmp/nginx/tmp; scgi_temp_path $tmp/nginx/tmp;
  access_log off; default_type application/octet-stream; keepalive_timeout 65s;
  server { listen 127.0.0.1:$port ssl; ssl_certificate $tmp/srv.pem;
           ssl_certificate_key $tmp/srv.key; root $tmp/site; }
}
EOF
"$nginx" -p "$tmp/nginx" -c "$tmp/nginx/nginx.conf" -e "$tmp/nginx/error.log" &
pids+=($!)
python3 "$src/bench/latency_proxy.py" "$port" "$rtt_ms" "$tmp/proxy.port" &
pids+=($!)
for _ in $(seq 1 100); do [ -s "$tmp/proxy.port" ] && break; sleep 0.05; done
url="https://127.0.0.1:$(cat "$tmp/proxy.port")/objects"
sed "s|^\(.*\)\.rwx$|$url/\1.zip|" "$tmp/list.txt" > "$tmp/urls.txt"

now() { date +%s.%N; }
div() { echo "scale=2; $1 / $2" | bc -l; }
# best of three wall-clock seconds of a command run in $tmp/get; `fresh` empties it first
best() {
  local fresh=$1 best="" t0 t1 t; shift
  for _ in 1 2 3; do
    if [ "$fresh" = fresh ]; then rm -rf "$tmp/get"; mkdir -p "$tmp/get"; cp "$tmp/list.txt" "$tmp/get/"; fi
    t0=$(now); (cd "$tmp/get" && "$@") >/dev/null 2>&1 || true; t1=$(now)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}
# the least CPU seconds (user + system) of three runs, each in a fresh $tmp/get
cpu() {
  local least="" c
  for _ in 1 2 3; do
    rm -rf "$tmp/get"; mkdir -p "$tmp/get"; cp "$tmp/list.txt" "$tmp/get/"
    (cd "$tmp/get" && /usr/bin/time -f '%U %S' -o "$tmp/cpu" "$@") >/dev/null 2>&1 || true
    c=$(awk '{ print $1 + $2 }' "$tmp/cpu")
    if [ -z "$least" ] || [ "$(echo "$c < $least" | bc -l)" = 1 ]; then least=$c; fi
  done
  echo "$least"
}

curl_all=(curl --http1.1 --parallel --parallel-max 6 --cacert "$tmp/ca.pem" -s -S --remote-name-all)
cli=("$bin/boxtally-cli" --quiet --new-log --log log.txt --web "$url" --ca-file "$tmp/ca.pem")
t_curl=$(best fresh sh -c "xargs ${curl_all[*]} < '$tmp/urls.txt'")
t_curl_z=$(best kept sh -c "xargs ${curl_all[*]} -z 'Tue, 02 Jan 2024 03:04:05 GMT' < '$tmp/urls.txt'")
t_web=$(best fresh "${cli[@]}" list.txt -oreg.txt)
t_fix=$(best fresh "${cli[@]}" --connect-fix list.txt -oreg.txt)
t_one=$(best fresh "${cli[@]}" --downloads 1 list.txt -oreg.txt)
"${cli[@]}" list.txt -oreg.txt >/dev/null 2>&1 || true  # the first run of the second ones below
t_again=$(best kept "${cli[@]}" list.txt -oreg.txt)
c_curl=$(cpu sh -c "xargs ${curl_all[*]} < '$tmp/urls.txt'")
c_web=$(cpu "${cli[@]}" list.txt -oreg.txt)

row() {  # label seconds baseline-seconds baseline-name
  printf "  %-46s %6.2f s %6.2f x %s\n" "$1" "$2" "$(div "$2" "$3")" "$4"
}
echo "Web mode: $models models ($zipped bytes zipped) over HTTPS, $rtt_ms ms round trip"
row "curl --parallel --parallel-max 6 (GET)" "$t_curl" "$t_curl" "itself"
row "boxtally-cli, default (HEAD and GET, 6)" "$t_web" "$t_curl" "curl --parallel"
row "boxtally-cli --connect-fix (GET, 6)" "$t_fix" "$t_curl" "curl --parallel"
row "boxtally-cli --downloads 1 (HEAD and GET)" "$t_one" "$t_curl" "curl --parallel"
row "curl --parallel -z, second run (304s)" "$t_curl_z" "$t_curl_z" "itself"
row "boxtally-cli, second run (conditional)" "$t_again" "$t_curl_z" "curl --parallel -z"
printf "  %-46s %6.2f s %6.2f x %s\n" "CPU: boxtally-cli default (curl: $c_curl s)" "$c_web" \
  "$(div "$c_web" "$c_curl")" "curl's CPU"

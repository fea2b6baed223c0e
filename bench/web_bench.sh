#!/usr/bin/env bash
# Web mode against curl: 200 small models from a local server that answers every request after
# 20 ms, fetched by curl one after another and six at once (xargs -P 6), and by boxtally-cli's
# web runs (HEAD and GET, and --connect-fix), with one download at a time and with the default.
# Usage: bench/web_bench.sh [BIN_DIR] (default: build/bin).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$src/build/bin}" && pwd)
models=${WEB_BENCH_MODELS:-200}
delay_ms=${WEB_BENCH_DELAY_MS:-20}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/web-bench.XXXXXX")
server=""
cleanup() { [ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$tmp"; }
trap cleanup EXIT

mkdir -p "$tmp/objects" "$tmp/src" "$tmp/get"
for i in $(seq 1 "$models"); do
  printf 'modelbegin\r\nclumpbegin\r\nblock 1 %d 2\r\nvertex 0 0 %d\r\nclumpend\r\nmodelend\r\n' \
    "$i" "$i" > "$tmp/src/m$i.rwx"
  (cd "$tmp/src" && zip -q -X "../objects/m$i.zip" "m$i.rwx")
  echo "m$i.rwx" >> "$tmp/list.txt"
done
python3 "$src/tests/support/slow_http_server.py" "$tmp/objects" "$delay_ms" "$tmp/port" &
server=$!
for _ in $(seq 1 100); do [ -s "$tmp/port" ] && break; sleep 0.05; done
url="http://127.0.0.1:$(cat "$tmp/port")"
sed "s|^\(.*\)\.rwx$|$url/\1.zip|" "$tmp/list.txt" > "$tmp/urls.txt"

now() { date +%s.%N; }
# best of three wall-clock seconds of a command, run in a fresh download folder
best() {
  local best="" t0 t1 t
  for _ in 1 2 3; do
    rm -rf "$tmp/get"; mkdir -p "$tmp/get"; cp "$tmp/list.txt" "$tmp/get/"
    t0=$(now); (cd "$tmp/get" && "$@") >/dev/null 2>&1 || true; t1=$(now)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}
div() { echo "scale=2; $1 / $2" | bc -l; }

# One curl for all the URLs, one after another; six curls, each with a sixth of them.
t_curl=$(best sh -c "xargs curl -s -S --remote-name-all < '$tmp/urls.txt'")
t_curl6=$(best sh -c "xargs -P 6 -n $(((models + 5) / 6)) curl -s -S --remote-name-all < '$tmp/urls.txt'")
cli=("$bin/boxtally-cli" --quiet --new-log --log log.txt --web "$url")
downloads=()
"$bin/boxtally-cli" --help | grep -q -- --downloads && downloads=(--downloads 1)
t_web1=$(best "${cli[@]}" "${downloads[@]}" list.txt -oreg.txt)
t_web=$(best "${cli[@]}" list.txt -oreg.txt)
t_fix=$(best "${cli[@]}" --connect-fix list.txt -oreg.txt)

row() {  # label seconds
  printf "  %-44s %6.3f s %6.2f x curl one by one %6.2f x curl six at once\n" "$1" "$2" \
    "$(div "$2" "$t_curl")" "$(div "$2" "$t_curl6")"
}
echo "Web mode: $models models, each request answered after $delay_ms ms"
row "curl, one after another (GET)" "$t_curl"
row "curl, six at once (xargs -P 6, GET)" "$t_curl6"
row "boxtally-cli --downloads 1 (HEAD and GET)" "$t_web1"
row "boxtally-cli, default (HEAD and GET)" "$t_web"
row "boxtally-cli --connect-fix (GET)" "$t_fix"

#!/usr/bin/env bash
# Extraction throughput of the archive module against Info-ZIP's unzip -p over the same
# archives (deflated, stored, encrypted; many small models and one 200 MB entry), and peak
# memory for the 200 MB entry. Usage: bench/archive_bench.sh [BUILD_DIR] (default: build),
# after building the targets boxtally_archive and platform in BUILD_DIR.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/archive-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

c++ -std=c++20 -O2 -I"$src/src" "$src/bench/archive_bench.cpp" \
  "$build/src/boxtally/archive/libboxtally_archive.a" "$build/src/platform/libplatform.a" -lz -ldeflate \
  -o "$tmp/archive_bench"

# RWX-like text that compresses about as well as real models (4:1 to 5:1).
model() {
  awk -v n="$1" -v seed="$2" 'BEGIN { srand(seed); print "modelbegin\r"; print "clumpbegin\r";
    for (i = 0; i < n; i++) printf "vertex %.4f %.4f %.4f uv %.3f %.3f\r\n",
      rand() * 10 - 5, rand() * 4, rand() * 10 - 5, rand(), rand();
    print "clumpend\r"; print "modelend\r" }'
}
mkdir -p "$tmp/plain" "$tmp/locked" "$tmp/stored"
for i in $(seq 1 300); do
  model $((500 + i * 17 % 4000)) "$i" > "$tmp/m$i.rwx"
  (cd "$tmp" && zip -q -X plain/m$i.zip m$i.rwx && zip -q -X -P secret locked/m$i.zip m$i.rwx &&
    zip -q -X -0 stored/m$i.zip m$i.rwx && rm m$i.rwx)
done
model 4450000 1 > "$tmp/big.rwx"
big_mb=$(($(stat -c %s "$tmp/big.rwx") / 1000000))
(cd "$tmp" && zip -q -X big.zip big.rwx && zip -q -X -P secret big_locked.zip big.rwx && rm big.rwx)

now() { date +%s.%N; }
unzip_rate() {  # MB/s of unzip -p over the archives given, one process per archive
  local pw=$1; shift
  local bytes t0 t1
  bytes=$(for z in "$@"; do unzip -p $pw "$z"; done | wc -c)
  t0=$(now); for z in "$@"; do unzip -p $pw "$z"; done > /dev/null; t1=$(now)
  echo "scale=1; $bytes / 1000000 / ($t1 - $t0)" | bc -l
}
row() {  # label, password, archives...
  local label=$1 pw=$2; shift 2
  local ours theirs
  ours=$("$tmp/archive_bench" ${pw:+-p$pw} "$tmp/work" "$@")
  theirs=$(unzip_rate "${pw:+-P $pw}" "$@")
  printf '%-28s ours: %s\n%-28s unzip -p: %s MB/s\n' "$label" "$ours" "" "$theirs"
}
row "300 models, deflated" "" "$tmp"/plain/*.zip
row "300 models, encrypted" secret "$tmp"/locked/*.zip
row "300 models, stored" "" "$tmp"/stored/*.zip
row "one $big_mb MB entry" "" "$tmp/big.zip"
row "the same, encrypted" secret "$tmp/big_locked.zip"
printf 'peak memory of unzip -p on the big entry: %s KB\n' \
  "$( { /usr/bin/time -f %M unzip -p "$tmp/big.zip" > /dev/null; } 2>&1 | tail -1)"
"$tmp/archive_bench" "$tmp/work" "$tmp/plain/m1.zip" | sed 's/^/one small model, for the memory baseline: /'

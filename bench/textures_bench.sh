#!/usr/bin/env bash
# The missing-textures check against the run without it: boxtally-cli over generated models
# (bench's own generator, 50 textures and 7 masks among them) laid out as models/ beside
# textures/, the textures folder holding half of them, against the same models with no textures
# folder at all. Best of three, --jobs 1 and every core. Usage: bench/textures_bench.sh [BIN_DIR]
# [MODELS] (default 2000).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$src/build-bench/bin}" && pwd)
count=${2:-2000}
work=$(mktemp -d "${TMPDIR:-/tmp}/textures-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/rwx" "$work/with/models" "$work/with/textures" "$work/without/models"
"$bin/gen_objects" "$work/rwx" "$count" 1
(cd "$work/rwx" && for f in *.rwx; do zip -q -X -j "$work/with/models/${f%.rwx}.zip" "$f"; done)
cp "$work/with/models/"*.zip "$work/without/models/"
for i in $(seq 0 2 49); do printf 'BM' > "$work/with/textures/tex$i.bmp"; done
for i in 0 2 4 6; do printf 'BM' > "$work/with/textures/msk$i.bmp"; done

now() { date +%s.%N; }
best() {
  local best=""
  for _ in 1 2 3; do
    local t0 t1 t
    t0=$(now); "$@" >/dev/null 2>&1 || true; t1=$(now)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}
echo "boxtally-cli over $count generated models, with a textures folder (the check) and without:"
for jobs in 1 "$(nproc)"; do
  plain=$(best "$bin/boxtally-cli" --quiet --jobs "$jobs" --log "$work/log.txt" --new-log \
    "$work/without/models/*.zip")
  checked=$(best "$bin/boxtally-cli" --quiet --jobs "$jobs" --log "$work/log.txt" --new-log \
    "$work/with/models/*.zip")
  printf "  --jobs %-2s  %7.3f s without a textures folder; with one %6.2f x\n" \
    "$jobs" "$plain" "$(echo "$checked / $plain" | bc -l)"
done

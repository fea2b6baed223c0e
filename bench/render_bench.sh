#!/usr/bin/env bash
# Pictures against measurement: one model of about 100,000 triangles, and one of about 4 million,
# drawn at 512 x 512 against its measurement (render_bench); then 200 generated models (the
# benches' own generator) laid out as an object path, models/*.zip beside textures/*.png (the
# textures the models name, made by render_bench): their thumbnails in one process with textures
# made up by the bench, and boxtally-cli over the object path with and without --thumbnails
# (which draws the textures once the run finds them), best of three, as ratios.
# Usage: bench/render_bench.sh [BIN_DIR].
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$src/build-bench/bin}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/render-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$bin/render_bench"
# Nearly the largest mesh a file may give, as the results window's preview draws it at each turn.
"$bin/render_bench" 1440

count=${RENDER_BENCH_MODELS:-200}
mkdir -p "$work/rwx" "$work/op/models" "$work/op/textures"
"$bin/gen_objects" "$work/rwx" "$count" 1
(cd "$work/rwx" && for f in *.rwx; do zip -q -X -j "$work/op/models/${f%.rwx}.zip" "$f"; done)
"$bin/render_bench" --write-textures "$work/op/textures"
"$bin/render_bench" --models "$work/rwx"

now() { date +%s.%N; }
# best of three wall-clock seconds of a command
best3() {
  local best=""
  for _ in 1 2 3; do
    local t0 t1 t
    t0=$(now)
    "$@" >/dev/null 2>&1 || true
    t1=$(now)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}
models="$work/op/models/*.zip"
echo "boxtally-cli over $count generated models, best of three:"
for jobs in 1 "$(nproc)"; do
  plain=$(best3 "$bin/boxtally-cli" --quiet --jobs "$jobs" "$models")
  drawn=$(best3 "$bin/boxtally-cli" --quiet --jobs "$jobs" --thumbnails "$work/thumbs" "$models")
  printf "  --jobs %-2s  %7.3f s without pictures; with 256 x 256 --thumbnails %6.2f x\n" \
    "$jobs" "$plain" "$(echo "$drawn / $plain" | bc -l)"
done

#!/usr/bin/env bash
# Pictures against measurement: one model of about 100,000 triangles, and one of about 4 million,
# drawn at 512 x 512 against its measurement (render_bench), and boxtally-cli over the example object path with and without
# --thumbnails, each run 20 times, best of three. Usage: bench/render_bench.sh [BIN_DIR].
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$src/build-bench/bin}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/render-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$bin/render_bench"
# Nearly the largest mesh a file may give, as the results window's preview draws it at each turn.
"$bin/render_bench" 1440

now() { date +%s.%N; }
# best of three wall-clock seconds of 20 runs of a command
best20() {
  local best=""
  for _ in 1 2 3; do
    local t0 t1 t
    t0=$(now)
    for _ in $(seq 20); do "$@" >/dev/null 2>&1 || true; done
    t1=$(now)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}
models="$src/examples/objects/*.zip"
count=$(ls $models | wc -l)
echo "boxtally-cli over the example object path ($count models), 20 runs, best of three:"
for jobs in 1 "$(nproc)"; do
  plain=$(best20 "$bin/boxtally-cli" --quiet --jobs "$jobs" "$models")
  drawn=$(best20 "$bin/boxtally-cli" --quiet --jobs "$jobs" --thumbnails "$work/thumbs" "$models")
  big=$(best20 "$bin/boxtally-cli" --quiet --jobs "$jobs" --thumbnails "$work/thumbs" \
    --thumbnail-size 1024 "$models")
  printf "  --jobs %-2s  %7.3f s without pictures; with --thumbnails %6.2f x, with 1024 x 1024 ones %6.2f x\n" \
    "$jobs" "$plain" "$(echo "$drawn / $plain" | bc -l)" "$(echo "$big / $plain" | bc -l)"
done

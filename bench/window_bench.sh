#!/usr/bin/env bash
# A run in the window (offscreen, the results window open) against the same run in boxtally-cli,
# over 20,000 and 100,000 tiny zipped models: best of three each, the ratio, and whether the two
# wrote the same registry, log and results. Usage: bench/window_bench.sh [BIN_DIR].
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$src/build-bench/bin}" && pwd)
[ -x "$bin/window_bench" ] || exit 0  # built where Qt is
data=${BENCH_DIR:-$src/build-bench/data}
work=$(mktemp -d "${TMPDIR:-/tmp}/window-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
echo "The window against boxtally-cli, tiny zipped models (best of three; the window's own"
echo "seconds, from the press of Générer to the end of the run):"
for count in 20000 100000; do
  models="$data/tiny-$count"
  if [ ! -d "$models" ] || [ "$(ls "$models" | wc -l)" -ne "$count" ]; then
    rm -rf "$models"
    python3 "$src/bench/gen_tiny_zips.py" "$models" "$count"
  fi
  cli="" window=""
  for _ in 1 2 3; do
    t0=$(now)
    "$bin/boxtally-cli" --quiet --log "$work/cli.log" --new-log --report "$work/cli.csv" \
      "$models/*.zip" -o"$work/cli.txt"
    t=$(echo "$(now) - $t0" | bc -l)
    if [ -z "$cli" ] || [ "$(echo "$t < $cli" | bc -l)" = 1 ]; then cli=$t; fi
    t=$("$bin/window_bench" "$models/*.zip" "$work/window.txt" "$work/window.log" \
      "$work/window.csv" 2>/dev/null)
    if [ -z "$window" ] || [ "$(echo "$t < $window" | bc -l)" = 1 ]; then window=$t; fi
  done
  same=identical
  for f in txt log csv; do cmp -s "$work/cli.$f" "$work/window.$f" || same="DIFFERENT ($f)"; done
  printf "  %6d models  boxtally-cli %7.3f s  window %7.3f s  %5.2f x   %s\n" \
    "$count" "$cli" "$window" "$(echo "$window / $cli" | bc -l)" "registry, log, results $same"
done

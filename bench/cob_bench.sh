#!/usr/bin/env bash
# Converter benchmark: rwxsmith on a generated COB scene of about 200,000 triangles (shared
# vertices, one texture coordinate per vertex, two textured materials), against the time and
# memory an independent reader (Debian's assimp-utils, `assimp info`) needs to load the same
# file in the same run. Not part of `make bench`.
#
# Usage: bench/cob_bench.sh [BIN_DIR] [QUADS_PER_SIDE]
#   BIN_DIR: where a Release build put rwxsmith (default build-bench/bin; any build works, a
#   Release one gives the fair figure). QUADS_PER_SIDE: grid size, default 317 (200,978 faces).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:-$here/../build-bench/bin}" && pwd)
quads=${2:-317}
work=$(mktemp -d "${TMPDIR:-/tmp}/cob-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

c++ -std=c++20 -O2 -o "$work/cob_gen" "$here/cob_gen.cpp"
"$work/cob_gen" "$work/scene.cob" "$quads"

# best of three: wall seconds and peak resident memory (KB) of a command
measure() {
  local best_s="" best_kb=""
  for _ in 1 2 3; do
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
    read -r s kb < <(tail -n 1 "$work/time")
    if [ -z "$best_s" ] || [ "$(echo "$s < $best_s" | bc -l)" = 1 ]; then best_s=$s; best_kb=$kb; fi
  done
  echo "$best_s s, peak $((best_kb / 1024)) MB"
}

cd "$work"
echo "rwxsmith scene.cob Rwx : $(measure "$bin/rwxsmith" scene.cob Rwx)"
echo "  wrote $(wc -c <scene.rwx) bytes: $(grep -c '^  Vertex' scene.rwx) vertices, $(grep -cE '^  (Triangle|Quad|Polygon)' scene.rwx) polygons"
if command -v assimp >/dev/null; then
  echo "assimp info scene.cob  : $(measure assimp info scene.cob)"
else
  echo "assimp not installed (apt-get install assimp-utils): no baseline"
fi

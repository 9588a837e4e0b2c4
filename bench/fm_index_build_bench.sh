#!/usr/bin/env bash
# Index build benchmark: generates genome-like references of the given
# sizes (default 5 and 100 Mbp), builds the bidirectional index of each
# from FASTA on all cores with the release build, writes the index file,
# and prints the build time, the index size and the peak memory of the
# build process.
#
#   bash bench/fm_index_build_bench.sh [megabases...]
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(5 100)
bash scripts/build.sh Release --target fm_index_build_bench >/dev/null
bench=build/release/bin/fm_index_build_bench
work=$(mktemp -d "${TMPDIR:-/tmp}/fm_index_build_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

for mb in "${sizes[@]}"; do
  fasta="$work/ref_${mb}.fa"
  echo "== ${mb} Mbp reference"
  "$bench" generate "$fasta" "$mb"
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -o "$work/time" -f "  peak memory:   %M KiB (wall %e s)" "$bench" build "$fasta" 0 "$work/ref_${mb}.idx"
    cat "$work/time"
  else
    "$bench" build "$fasta" 0 "$work/ref_${mb}.idx"
    echo "  peak memory:   not measured (/usr/bin/time is missing)"
  fi
  echo "  FASTA file:    $(stat -c %s "$fasta") bytes; index file: $(stat -c %s "$work/ref_${mb}.idx") bytes"
  rm -f "$fasta" "$work/ref_${mb}.idx"
done

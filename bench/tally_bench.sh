#!/usr/bin/env bash
# ryx_tally benchmark: generates a FASTA file of 20-base tags (default 10
# million, from a pool of 1 million distinct tags with skewed frequencies,
# one tag in ten a fresh random tag and one in two hundred with an N), then
# times ryx_tally on it (default minimum, and with -r) against
# `sort | uniq -c` on the same tags, printing wall time and peak memory of
# each run and checking that both find the same tags seen at least twice.
#
#   bash bench/tally_bench.sh [tags [runs]]   (defaults 10000000 and 3)
set -euo pipefail
cd "$(dirname "$0")/.."
tags=${1:-10000000}
runs=${2:-3}
bash scripts/build.sh Release --target ryx_tally --target tally_bench >/dev/null
bin=build/release/bin
work=$(mktemp -d "${TMPDIR:-/tmp}/tally_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ ! -x /usr/bin/time ]; then
  echo "/usr/bin/time is missing: install the time package to measure peak memory" >&2
  exit 1
fi

# Runs a command line (through bash) and prints its wall time and peak
# resident memory; for a pipeline the peak is that of its largest process.
measure() {
  local label=$1
  shift
  /usr/bin/time -f "  $label: %e s wall, %U s user, peak memory %M KiB" bash -c "$*" 2>&1 >/dev/null | tail -n 1
}

file="$work/tags.fa"
"$bin/tally_bench" "$file" "$tags" 20 1000000 1
cat "$file" >/dev/null  # into the page cache, so the disk does not set the pace
echo "== $tags tags of 20 bases, $(nproc) processors"
echo "  file: $(stat -c %s "$file") bytes; tag text alone (letters and line ends): $((tags * 21)) bytes"

for ((i = 1; i <= runs; i++)); do
  measure "ryx_tally        " "'$bin/ryx_tally' '$file' > '$work/tally.txt'"
done
for ((i = 1; i <= runs; i++)); do
  measure "ryx_tally -r     " "'$bin/ryx_tally' -r '$file' > '$work/tally_r.txt'"
done
for ((i = 1; i <= runs; i++)); do
  measure "sort | uniq -c   " "grep -v '^>' '$file' | LC_ALL=C sort | uniq -c > '$work/sort.txt'"
done

listed=$(grep -c '^[ACGT]' "$work/tally.txt" || true)
expected=$(awk '$1 >= 2 && $2 !~ /N/' "$work/sort.txt" | wc -l)
occurrences=$(grep -c '^  ' "$work/tally.txt" || true)
expected_occurrences=$(awk '$1 >= 2 && $2 !~ /N/ { n += $1 } END { print n + 0 }' "$work/sort.txt")
echo "  tags seen at least twice: ryx_tally $listed, sort | uniq -c $expected;" \
  "their occurrences: $occurrences and $expected_occurrences"
[ "$listed" = "$expected" ] && [ "$occurrences" = "$expected_occurrences" ]

#!/usr/bin/env bash
# Parser benchmark: generates FASTQ files of short and long reads (plain and
# gzip-compressed), parses each with the release build and prints the
# throughput and the peak memory of each run.
#
#   bash bench/fm_parse_bench.sh [megabytes]   (default 1000)
set -euo pipefail
cd "$(dirname "$0")/.."
megabytes=${1:-1000}
bash scripts/build.sh Release --target fm_parse_bench >/dev/null
bench=build/release/bin/fm_parse_bench
work=$(mktemp -d "${TMPDIR:-/tmp}/fm_parse_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

run() {
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f "  peak memory: %M KiB" "$bench" parse "$1"
  else
    "$bench" parse "$1"
    echo "  peak memory: not measured (/usr/bin/time is missing)"
  fi
}

for length in 150 10000; do
  file="$work/reads_$length.fq"
  echo "== ${megabytes} MB of reads of length $length"
  "$bench" generate "$file" "$megabytes" "$length"
  run "$file"
  run "$file"  # second run: file in the page cache
  gzip -1 -c "$file" >"$file.gz"
  run "$file.gz"
  rm -f "$file" "$file.gz"
done

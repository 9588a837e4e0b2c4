#!/usr/bin/env bash
# Streaming parser benchmark: generates a FASTQ file of 150-base reads (plain
# and gzip-compressed), streams each with one worker and with every
# processor, and through the pull reader, printing throughput and peak memory
# of each run.
#
#   bash bench/seq_stream_bench.sh [megabytes]   (default 1000)
set -euo pipefail
cd "$(dirname "$0")/.."
megabytes=${1:-1000}
bash scripts/build.sh Release --target seq_stream_bench >/dev/null
bench=build/release/bin/seq_stream_bench
work=$(mktemp -d "${TMPDIR:-/tmp}/seq_stream_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

run() {
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f "  peak memory: %M KiB" "$bench" "$@" 2>&1
  else
    "$bench" "$@"
    echo "  peak memory: not measured (/usr/bin/time is missing)"
  fi
}

file="$work/reads.fq"
echo "== ${megabytes} MB of FASTQ, $(nproc) processors"
"$bench" generate "$file" "$megabytes"
cat "$file" >/dev/null  # into the page cache, so the disk does not set the pace
for workers in 1 0; do
  run stream "$file" "$workers"
done
run pull "$file"
gzip -1 -c "$file" >"$file.gz"
rm -f "$file"
for workers in 1 0; do
  run stream "$file.gz" "$workers"
done
run pull "$file.gz"

#!/usr/bin/env bash
# Read-mapping engine benchmark: builds the release benchmark, simulates a
# genome (default 5 Mbp in 4 sequences) and 100-base single reads at 1 %
# error (0.9 % substitutions, 0.1 % small insertions and deletions), builds
# the index in memory and maps the reads with 1 and 8 threads, printing
# reads per second (in all, per thread and per processor-second), the
# speed-up, the share of reads at their true position and a digest of the
# output (equal digests: identical hits); then the peak memory.
#
#   bash bench/fm_mapper_bench.sh [reads [genome bases [thread list]]]
#                                 (defaults 200000, 5000000 and 1,8)
#
# Further options go to the program after the third argument, e.g.
# --repeats 200 or --mapq (see bench/fm_mapper_bench_main.cpp). On a busy
# machine the speed-up falls short of the thread count while the reads per
# processor-second stay put.
set -euo pipefail
cd "$(dirname "$0")/.."
reads=${1:-200000}
bases=${2:-5000000}
threads=${3:-1,8}
shift $(( $# < 3 ? $# : 3 ))
bash scripts/build.sh Release --target fm_mapper_bench >/dev/null
bench=build/release/bin/fm_mapper_bench
args=(--reads "$reads" --genome-size "$bases" --threads "$threads" "$@")
if [ -x /usr/bin/time ]; then
  /usr/bin/time -f "peak memory: %M KiB" "$bench" "${args[@]}"
else
  "$bench" "${args[@]}"
  echo "peak memory: not measured (/usr/bin/time is missing)"
fi

#!/usr/bin/env bash
# ryx_denovo benchmark: time, memory and contig quality on a simulated
# bacterial genome.
#
#   bash bench/denovo.sh [genome bases [coverage [error rate [cpus [work folder]]]]]
#                        (defaults 3000000, 40, 0.0075, all processors)
#   bash bench/denovo.sh quick      (300 kbp)
#
# Simulates one chromosome of random sequence with bacterial-like repeats
# (36 copies of 1 to 6 kb repeat families and five copies of a 5 kb
# rRNA-like operon) and 2 x 100 base read pairs with fragments of
# 300 +- 30 bases at the given coverage and error rate, assembles them
# with ryx_denovo (-p fb ss 240 360) and prints the wall time and peak
# memory of the assembly, then the contig count, N50, total and largest
# length, and the share of contigs that match the genome exactly. Without
# a work folder the data go to a temporary folder removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timed.sh
if [ "${1:-}" = quick ]; then
  bases=300000
  coverage=40
  error=0.0075
  cpus=0
  work_arg=${2:-}
else
  bases=${1:-3000000}
  coverage=${2:-40}
  error=${3:-0.0075}
  cpus=${4:-0}
  work_arg=${5:-}
fi
bash scripts/build.sh Release --target denovo_bench --target ryx_denovo >/dev/null
bin=$PWD/build/release/bin
if [ -n "$work_arg" ]; then
  mkdir -p "$work_arg"
  work=$(cd "$work_arg" && pwd)
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/denovo_bench.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi

"$bin/denovo_bench" simulate "$work" "$bases" "$coverage" "$error"
export LOG=$work/ryx_denovo.log
echo "assembling with ryx_denovo (--cpus $cpus, 0 = all processors)"
# The assembler's progress goes to a log; the shell execs it, so the time
# and memory measured are its own.
timed sh -c 'exec "$0" "$@" >"$LOG"' "$bin/ryx_denovo" --cpus "$cpus" -o "$work/contigs.fa" -p fb ss 240 360 \
  -q -i "$work/r1.fq" "$work/r2.fq"
"$bin/denovo_bench" evaluate "$work/genome.fa" "$work/contigs.fa"

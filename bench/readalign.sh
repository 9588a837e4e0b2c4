#!/usr/bin/env bash
# ryx_readalign benchmark: accuracy and speed of paired mapping.
#
#   bash bench/readalign.sh [pairs [genome bases [work folder]]]
#                           (defaults 1000000 and 5000000)
#   bash bench/readalign.sh quick      (20000 pairs on 1 Mbp)
#
# Simulates a genome in 4 sequences and read pairs of 100 bases (fragments
# of 300 +- 30 bases, the left mate forward and the right one backward, 1 %
# error: 0.9 % substitutions and 0.1 % small insertions and deletions) with
# read_simulator, interleaved in one FASTQ file. Builds the index file once,
# then maps the pairs from it with 1 and with 8 threads (-p fb ss 100 600)
# and prints for each run the wall time, reads per second (in all and per
# thread) and peak memory, then the speed-up, whether both runs wrote the
# same records, and read_evaluator's accuracy: the share of reads placed
# at their true position (same sequence and strand, start within 10 bases),
# elsewhere, and not at all. Without a work folder the data go to a
# temporary folder that is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = quick ]; then
  pairs=20000
  bases=1000000
  work_arg=${2:-}
else
  pairs=${1:-1000000}
  bases=${2:-5000000}
  work_arg=${3:-}
fi
if [ ! -x /usr/bin/time ]; then
  echo "/usr/bin/time is missing: install the time package to measure peak memory" >&2
  exit 1
fi
bash scripts/build.sh Release --target read_simulator --target read_evaluator >/dev/null
if ! bash scripts/build.sh Release --target ryx_readalign >/dev/null 2>&1; then
  echo "ryx_readalign does not build in this tree; bench/fm_mapper_bench.sh measures the engine alone" >&2
  exit 1
fi
bin=$PWD/build/release/bin
if [ -n "$work_arg" ]; then
  mkdir -p "$work_arg"
  work=$(cd "$work_arg" && pwd)
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/readalign_bench.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
reads=$((2 * pairs))

echo "simulating $pairs pairs on $bases bases in $work"
"$bin/read_simulator" --genome-size "$bases" --reads "$pairs" --pairs "$work/genome.fa" "$work/reads.fq"

# Runs a command and prints its wall time, processor time and peak memory;
# leaves the wall time in $wall.
measure() {
  local label=$1
  shift
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" >"$work/out.txt" 2>&1 || {
    cat "$work/out.txt" >&2
    echo "$label failed" >&2
    exit 1
  }
  read -r wall user sys peak <"$work/time.txt"
  awk -v l="$label" -v w="$wall" -v u="$user" -v s="$sys" -v p="$peak" \
    'BEGIN { printf "%-22s %8.2f s wall %8.2f s cpu  peak memory %7.1f MiB\n", l, w, u + s, p / 1024 }'
}

measure "index build (8 cpus)" "$bin/ryx_readalign" --noprogress --cpus 8 -d "$work/genome.fa" -n "$work/genome.idx"

declare -A walls
for cpus in 1 8; do
  measure "mapping, $cpus cpus" "$bin/ryx_readalign" --noprogress --cpus "$cpus" -d "$work/genome.idx" \
    -o "$work/result_$cpus.nyr" -q -p fb ss 100 600 "$work/reads.fq"
  walls[$cpus]=$wall
  awk -v n="$reads" -v w="$wall" -v c="$cpus" \
    'BEGIN { printf "%22s %8.0f reads/s  %8.0f reads/s/thread\n", "", n / w, n / w / c }'
done
awk -v a="${walls[1]}" -v b="${walls[8]}" 'BEGIN { printf "speed-up 1 -> 8 cpus: %.2f\n", a / b }'

# The records end where the fields block starts (the offset at byte 8);
# the fields block differs by the command line.
records_end() { od -An -t u8 -j 8 -N 8 "$1" | tr -d ' '; }
if [ "$(records_end "$work/result_1.nyr")" = "$(records_end "$work/result_8.nyr")" ] &&
  cmp -s -n "$(records_end "$work/result_1.nyr")" "$work/result_1.nyr" "$work/result_8.nyr"; then
  echo "records of 1 and 8 cpus: identical"
else
  echo "records of 1 and 8 cpus: DIFFERENT"
fi
"$bin/read_evaluator" "$work/result_8.nyr" "$work/reads.fq"

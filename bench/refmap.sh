#!/usr/bin/env bash
# ryx_refmap benchmark: speed, memory and accuracy on short reads.
#
#   bash bench/refmap.sh [reads [pairs [genome bases [work folder]]]]
#                        (defaults 1000000, 500000 and 4600000)
#   bash bench/refmap.sh quick      (50000 reads and 20000 pairs on 1 Mbp)
#
# Simulates a genome in 4 sequences with read_simulator, single reads of 36
# bases and read pairs of 50 bases (fragments of 300 +- 30 bases, the left
# mate forward and the right one backward, interleaved in one FASTQ file),
# both at 1 % error (0.9 % substitutions, 0.1 % small insertions and
# deletions). Maps the single reads with 1 and with 8 threads and the pairs
# with 8 threads (-p fb ss 100 600) and prints for each run the wall time,
# reads per second (in all and per thread) and peak memory, then the
# speed-up, whether the 1- and 8-thread runs wrote the same records, and
# read_evaluator's accuracy: the share of reads placed at their true
# position (same sequence and strand, start within 10 bases), elsewhere,
# and not at all. Without a work folder the data go to a temporary folder
# that is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timed.sh
if [ "${1:-}" = quick ]; then
  reads=50000
  pairs=20000
  bases=1000000
  work_arg=${2:-}
else
  reads=${1:-1000000}
  pairs=${2:-500000}
  bases=${3:-4600000}
  work_arg=${4:-}
fi
if [ ! -x /usr/bin/time ]; then
  echo "/usr/bin/time is missing: install the time package to measure peak memory" >&2
  exit 1
fi
bash scripts/build.sh Release --target read_simulator --target read_evaluator --target ryx_refmap >/dev/null
bin=$PWD/build/release/bin
if [ -n "$work_arg" ]; then
  mkdir -p "$work_arg"
  work=$(cd "$work_arg" && pwd)
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/refmap_bench.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi

echo "simulating $reads reads of 36 bases and $pairs pairs of 50 bases on $bases bases in $work"
"$bin/read_simulator" --genome-size "$bases" --reads "$reads" --length 36 "$work/genome.fa" "$work/reads.fq"
"$bin/read_simulator" --genome-size "$bases" --reads "$pairs" --length 50 --pairs \
  "$work/genome_pairs.fa" "$work/pairs.fq"
if ! cmp -s "$work/genome.fa" "$work/genome_pairs.fa"; then
  echo "read_simulator made two genomes for one size" >&2
  exit 1
fi

rate() {
  awk -v n="$1" -v w="$wall" -v c="$2" \
    'BEGIN { printf "%26s %8.0f reads/s  %8.0f reads/s/thread\n", "", n / w, n / w / c }'
}

declare -A walls
for cpus in 1 8; do
  measure "36 bp reads, $cpus cpus" "$bin/ryx_refmap" --no-progress --cpus "$cpus" -d "$work/genome.fa" \
    -o "$work/reads_$cpus.nyr" -q "$work/reads.fq"
  walls[$cpus]=$wall
  rate "$reads" "$cpus"
done
awk -v a="${walls[1]}" -v b="${walls[8]}" 'BEGIN { printf "speed-up 1 -> 8 cpus: %.2f\n", a / b }'

if same_records "$work/reads_1.nyr" "$work/reads_8.nyr"; then
  echo "records of 1 and 8 cpus: identical"
else
  echo "records of 1 and 8 cpus: different (reads with several equal hits are placed at random)"
fi
echo "36 bp reads:"
"$bin/read_evaluator" "$work/reads_8.nyr" "$work/reads.fq"

measure "50 bp pairs, 8 cpus" "$bin/ryx_refmap" --no-progress --cpus 8 -d "$work/genome.fa" \
  -o "$work/pairs.nyr" -q -p fb ss 100 600 "$work/pairs.fq"
rate $((2 * pairs)) 8
echo "50 bp pairs:"
"$bin/read_evaluator" "$work/pairs.nyr" "$work/pairs.fq"

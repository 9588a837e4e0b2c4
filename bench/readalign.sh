#!/usr/bin/env bash
# ryx_readalign benchmark: accuracy and speed of paired mapping.
#
#   bash bench/readalign.sh [pairs [genome bases [work folder]]]
#                           (defaults 1000000 and 5000000)
#   bash bench/readalign.sh quick      (20000 pairs on 1 Mbp)
#   bash bench/readalign.sh long [pairs [genome bases [work folder]]]
#                           (pairs of 250 bases; defaults 100000 and 5000000)
#
# Simulates a genome in 4 sequences and read pairs with read_simulator,
# interleaved in one FASTQ file: by default pairs of 100 bases (fragments
# of 300 +- 30 bases, 1 % error: 0.9 % substitutions and 0.1 % small
# insertions and deletions); in the long mode pairs of 250 bases
# (fragments of 600 +- 60, 2 % error: 1.8 % substitutions, 0.2 % indels).
# The left mate is forward and the right one backward. Builds the index
# file once, then maps the pairs from it with 1 and with 8 threads
# (-p fb ss 100 600, or 200 1000 for 250 bases) and prints for each run
# the wall time, the user and system processor time, the user time per
# million reads, reads per second (in all and per thread) and peak memory,
# then the speed-up, whether both runs wrote the same records, and
# read_evaluator's accuracy: the share of reads placed at their true
# position (same sequence and strand, start within 10 bases), elsewhere,
# and not at all. Without a work folder the data go to a temporary folder
# that is removed at the end; a work folder that already holds the data of
# the same settings is reused without simulating again.
#
# Where the processor time goes (perf record on one thread, default
# options, 5 Mbp genome; shares of the samples):
#
# - Seeding: about 55 % at 100 bases and 45 % at 250. A search costs one
#   table look-up at its pivot (the table entries of all pivots are asked
#   for when a read starts), one or two rank look-ups while its range still
#   holds several occurrences (10 % of all time on their own), then one
#   step per symbol once it is down to one occurrence. Those steps go
#   through a per-thread table of the rows already stepped over, and a walk
#   that reaches a row an earlier walk of the same read held at the same
#   read position jumps to that walk's end: at 250 bases a read takes about
#   65 searches, 120 rank steps and 170 one-occurrence steps. What is left
#   waits for memory on the first step over each row; the two mates of a
#   pair are seeded side by side, each giving way to the other while a step
#   waits, which hides part of it.
# - The full extender takes most of the rest: about 25 % at 100 bases and
#   45 % at 250. The band columns are about half of it: at 250 bases some
#   550 columns per read, 135 in each walk and 280 where every left end of
#   a walk computes the right band again over the known text. Counted in
#   vectors, the known text is half of the band's work, and the first seed
#   of a read nine tenths of it: its band is wide (7 to 16 vectors a
#   column), because the result's best score is still the floor. A walk
#   stops below a one-occurrence node once the band shows that no later
#   column can climb back to the best score of its path; this cuts the
#   columns, and the index steps, of the band's reach past the read's ends.
#   The walks' one-occurrence steps are the other half, mostly first steps
#   over rows the seeding did not touch (the left walk of a forward seed,
#   the right walk of a reverse one); steps the seeding or an earlier seed
#   took come from the same step table. Their share swings with how busy
#   the machine's memory is (10 to 20 % of all samples on one thread).
# - Listing hit positions takes about 6 % at 100 bases and 1.5 % at 250
#   (a pair's places are looked up once, by the pairer); trimming,
#   filtering, parsing, pairing and writing a few per cent. Loading the
#   index rebuilds its k-mer table once per run (about 0.1 s on one
#   thread).
#
# Measured on 8 threads of a shared 8-core machine, medians of runs taken
# in turn: 1M reads of 100 bases take 24.3 s user with the engine as it was
# before any of this tuning and 12.6 s now; 200k reads of 250 bases 23.5 s
# and 10.0 s (about 9 s when the machine is quiet). Wall time falls by
# the same share at 2, 4 and 8 threads; peak memory is unchanged (22 MiB
# at 100 bases, 28 MiB at 250).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timed.sh
length=100
fragment="300 30"
errors="--substitution 0.009 --indel 0.001"
pair_range="100 600"
default_pairs=1000000
if [ "${1:-}" = long ]; then
  shift
  length=250
  fragment="600 60"
  errors="--substitution 0.018 --indel 0.002"
  pair_range="200 1000"
  default_pairs=100000
fi
if [ "${1:-}" = quick ]; then
  pairs=20000
  bases=1000000
  work_arg=${2:-}
else
  pairs=${1:-$default_pairs}
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

# The settings the data in the work folder were made with.
settings="$pairs $bases $length $fragment $errors"
if [ -f "$work/settings.txt" ] && [ "$(cat "$work/settings.txt")" = "$settings" ] &&
  [ -f "$work/genome.fa" ] && [ -f "$work/reads.fq" ]; then
  echo "reusing $pairs pairs of $length bases on $bases bases in $work"
else
  rm -f "$work/settings.txt" "$work/genome.idx"
  echo "simulating $pairs pairs of $length bases on $bases bases in $work"
  # shellcheck disable=SC2086 # the settings are words
  "$bin/read_simulator" --genome-size "$bases" --reads "$pairs" --pairs --length "$length" --fragment $fragment \
    $errors "$work/genome.fa" "$work/reads.fq"
  echo "$settings" >"$work/settings.txt"
fi

measure "index build (8 cpus)" "$bin/ryx_readalign" --noprogress --cpus 8 -d "$work/genome.fa" -n "$work/genome.idx"

declare -A walls
for cpus in 1 8; do
  # shellcheck disable=SC2086 # the pair range is two words
  measure "mapping, $cpus cpus" "$bin/ryx_readalign" --noprogress --cpus "$cpus" -d "$work/genome.idx" \
    -o "$work/result_$cpus.nyr" -q -p fb ss $pair_range "$work/reads.fq"
  walls[$cpus]=$wall
  awk -v n="$reads" -v w="$wall" -v u="$user" -v c="$cpus" \
    'BEGIN { printf "%22s %8.0f reads/s  %8.0f reads/s/thread  %6.2f s user per 1M reads\n", "", n / w, n / w / c, u * 1e6 / n }'
done
awk -v a="${walls[1]}" -v b="${walls[8]}" 'BEGIN { printf "speed-up 1 -> 8 cpus: %.2f\n", a / b }'

if same_records "$work/result_1.nyr" "$work/result_8.nyr"; then
  echo "records of 1 and 8 cpus: identical"
else
  echo "records of 1 and 8 cpus: DIFFERENT"
fi
"$bin/read_evaluator" "$work/result_8.nyr" "$work/reads.fq"

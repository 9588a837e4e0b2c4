#!/usr/bin/env bash
# ryx_denovo benchmark: time, memory and contig quality on a simulated
# bacterial genome, per stage, and the same contigs for any thread count.
#
#   bash bench/denovo.sh [genome bases [coverage [error rate [cpus [work folder]]]]]
#                        (defaults 3000000, 40, 0.0075, all processors)
#   bash bench/denovo.sh quick      (300 kbp)
#   bash bench/denovo.sh large      (20 Mbp)
#
# Simulates one chromosome of random sequence with bacterial-like repeats
# (36 copies of 1 to 6 kb repeat families and five copies of a 5 kb
# rRNA-like operon per 3 Mbp) and 2 x 100 base read pairs with fragments
# of 300 +- 30 bases at the given coverage and error rate, assembles them
# with ryx_denovo (-p fb ss 240 360) and prints the wall time and peak
# memory of the assembly with the wall time of each stage (loading the
# reads, word counting, fragments, read mapping, the rest), the time per
# million reads, then the contig count, N50, total and largest length, and
# the share of contigs that match the genome exactly. Then it assembles the
# same reads twice more at the same thread count and once with one thread
# and says whether all four contig files agree byte for byte. Without a
# work folder the data go to a temporary folder removed at the end.
#
# Figures of one sitting on 8 cores of a machine shared with other work
# (load average 1 to 6 from it), --cpus 8, before and after the word
# counting, fragment and read mapping stages were reworked for large
# genomes (large pages for the counter tables and the fragment word index;
# look-ups batched, their table lines fetched ahead; refinements raising
# through partition lists; pieces kept small while pieces ahead still fill
# their overlay):
#                      3 Mbp (1.2 M reads)         20 Mbp (8 M reads)
#                      before       after          before        after
#   word counting      3.3 s        1.9 s          26.8 s        18.8 s
#   fragments          4.3 s        1.3-1.4 s      56.9 s        11.7 s
#   read mapping       4.8 s        1.0-1.1 s      36.5 s        12.3 s
#   total wall         12.7 s       4.6 s          121 s         45 s
#   total user         68 s         27-28 s        742 s         251 s
#   peak memory        133 MiB      120-134 MiB    353 MiB       323 MiB
#   per million reads  10.5 s       3.8 s          15.2 s        5.7 s
# The contigs are the same bytes before and after, and for any thread
# count. Under heavier load from the other work (load average up to 15)
# the same builds took 13.3-13.5 s and 5.5-5.6 s at 3 Mbp, 232-246 s and
# 67-68 s at 20 Mbp. At a quieter moment afterwards the new build took
# 3.8-4.4 s at 3 Mbp (four runs) and 35.0-36.3 s at 20 Mbp (two runs; word
# counting 15 s, fragments 10 s, read mapping 9.3-9.9 s): 3.4 and 4.5 s
# per million reads, 1.3 times as much per read on the larger genome. Time per read still grows with the genome, most in read
# mapping: its word index outgrows the caches (10 to 12 times the 3 Mbp
# mapping time for 6.7 times the reads). A filter of the sampled words in
# front of the index (one bit per word hash, in cache) did not make the
# mapping faster: the look-ups already fetch their table lines ahead.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timed.sh
if [ "${1:-}" = quick ] || [ "${1:-}" = large ]; then
  bases=$([ "$1" = quick ] && echo 300000 || echo 20000000)
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
reads=$(($(wc -l <"$work/r1.fq") / 2))

# stage_times START: reads ryx_denovo -v's standard output and prints how
# long each stage took, from when its message arrived (START for the first)
# to when the next one did, the last one to the end of the output.
stage_times() {
  local start=$1 line label
  local -a labels=() times=()
  while IFS= read -r line; do
    label=
    case $line in
    *"Loading reads..."*) label="loading reads" ;;
    *"Counting words..."*) label="word counting" ;;
    *"Creating fragments..."*) label="fragments" ;;
    *"Mapping reads..."*) label="read mapping" ;;
    *"Constructing initial graph..."*) label="the rest" ;;
    esac
    if [ -n "$label" ]; then
      labels+=("$label")
      times+=("$EPOCHREALTIME")
    fi
  done
  times+=("$EPOCHREALTIME")
  times[0]=$start
  for i in "${!labels[@]}"; do
    awk -v l="${labels[$i]}" -v a="${times[$i]}" -v b="${times[$((i + 1))]}" \
      'BEGIN { printf "  %-16s %8.2f s\n", l, b - a }'
  done
}

# run_assembly CPUS CONTIGS: assembles the reads and prints the wall time
# and peak memory of ryx_denovo itself, and the wall time of each stage,
# taken from when its stage message (-v) reaches the pipe (the rest runs
# from the graph to the end).
run_assembly() {
  local threads=$1 contigs=$2 start=$EPOCHREALTIME
  # Line-buffered, so that each stage message leaves as it is written.
  /usr/bin/time -f "%e %U %M" -o "$work/time.txt" stdbuf -oL "$bin/ryx_denovo" -v --cpus "$threads" -o "$contigs" \
    -p fb ss 240 360 -q -i "$work/r1.fq" "$work/r2.fq" |
    stage_times "$start"
  local wall user peak
  read -r wall user peak <"$work/time.txt"
  awk -v w="$wall" -v u="$user" -v p="$peak" -v r="$reads" -v t="$threads" 'BEGIN {
    printf "  total            %8.2f s wall %8.2f s user  peak memory %.1f MiB  (--cpus %s)\n", w, u, p / 1024, t
    printf "  per million reads %7.2f s wall\n", w / (r / 1e6) }'
}

echo "assembling $reads reads with ryx_denovo (--cpus $cpus, 0 = all processors)"
run_assembly "$cpus" "$work/contigs.fa"
"$bin/denovo_bench" evaluate "$work/genome.fa" "$work/contigs.fa"

# The same contigs on every run and for any thread count.
echo "again, twice with --cpus $cpus and once with --cpus 1:"
for run in 2 3; do run_assembly "$cpus" "$work/contigs_$run.fa" | grep total; done
run_assembly 1 "$work/contigs_1.fa" | grep total
if cmp -s "$work/contigs.fa" "$work/contigs_2.fa" && cmp -s "$work/contigs.fa" "$work/contigs_3.fa" &&
  cmp -s "$work/contigs.fa" "$work/contigs_1.fa"; then
  echo "contigs of all four runs: identical"
else
  echo "contigs of the four runs: DIFFERENT"
fi

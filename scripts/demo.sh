#!/usr/bin/env bash
# Installs what is missing, builds the programs it runs (release build) and
# shows each of them at work on data made here: reads simulated from a
# random genome are mapped in two lanes, the lanes joined and the result
# scored against the reads' known origins; a sample of the reads is drawn,
# tags are counted, one mapping run is timed with its resource log, and the
# read pairs of a small genome are assembled into scaffolds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
programs=(ryx_readalign ryx_refmap ryx_merge ryx_pick ryx_tally ryx_runstat ryx_denovo read_simulator read_evaluator)
echo "== building ${programs[*]}"
bash scripts/build.sh Release --target "${programs[@]}" >/dev/null
bin=$PWD/build/release/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo
echo "== simulating a 2 Mbp genome and 100000 reads of 100 bases that know where they came from"
"$bin/read_simulator" --genome-size 2000000 --reads 100000 --length 100 "$work/genome.fa" "$work/reads.fq"
# Two lanes: the first and the second half of the reads.
head -n 200000 "$work/reads.fq" > "$work/lane1.fq"
tail -n +200001 "$work/reads.fq" > "$work/lane2.fq"

echo
echo "== ryx_readalign: index the genome, then map lane 1 (with its progress meter)"
"$bin/ryx_readalign" -d "$work/genome.fa" -n "$work/genome.idx" --noprogress
"$bin/ryx_readalign" -d "$work/genome.idx" -q "$work/lane1.fq" -o "$work/lane1.nyr"
echo

echo
echo "== ryx_runstat: map lane 2 under the command runner and show its resource log"
"$bin/ryx_runstat" -l "$work/lane2.log" -c "$bin/ryx_readalign" -d "$work/genome.idx" -q "$work/lane2.fq" \
  -o "$work/lane2.nyr" --noprogress
cat "$work/lane2.log"

echo
echo "== ryx_merge: join the two lanes, then score the joined mapping against the reads' origins"
"$bin/ryx_merge" -o "$work/all.nyr" "$work/lane1.nyr" "$work/lane2.nyr"
ls -l "$work/lane1.nyr" "$work/lane2.nyr" "$work/all.nyr" | awk '{ n = $NF; sub(".*/", "", n); print n ": " $5 " bytes" }'
"$bin/read_evaluator" "$work/all.nyr" "$work/reads.fq"

echo
echo "== ryx_refmap: map 50000 reads of 36 bases simulated from a genome of their own, and score them"
"$bin/read_simulator" --genome-size 2000000 --reads 50000 --length 36 --seed 3 "$work/genome36.fa" "$work/reads36.fq"
"$bin/ryx_refmap" -d "$work/genome36.fa" -q "$work/reads36.fq" -o "$work/reads36.nyr" --no-progress
"$bin/read_evaluator" "$work/reads36.nyr" "$work/reads36.fq"

echo
echo "== ryx_pick: keep about 10% of the reads, as FASTQ"
"$bin/ryx_pick" -f 0.1 -r 42 -q "$work/sample.fq" "$work/reads.fq"
echo "reads kept: $(( $(wc -l < "$work/sample.fq") / 4 )) of 100000; the first:"
head -4 "$work/sample.fq"

echo
echo "== ryx_tally: count the tags of a small tag file"
# 2000 tags from a few hundred distinct ones, every tenth reverse-complemented.
awk 'BEGIN {
  srand(7); split("A C G T", b, " ");
  for (i = 0; i < 300; i++) { t = ""; for (j = 0; j < 12; j++) t = t b[int(rand() * 4) + 1]; pool[i] = t }
  for (i = 0; i < 2000; i++) {
    t = pool[int(rand() * rand() * 300)];
    if (i % 10 == 9) { r = ""; for (j = 12; j > 0; j--) { c = substr(t, j, 1); r = r (c == "A" ? "T" : c == "C" ? "G" : c == "G" ? "C" : "A") } t = r }
    printf ">tag%d\n%s\n", i, t
  } }' > "$work/tags.fa"
"$bin/ryx_tally" -m 20 -r "$work/tags.fa" > "$work/tags.tally"
echo "$(grep -c '^[ACGT]' "$work/tags.tally") tags seen at least 20 times; the listing begins:"
head -n 12 "$work/tags.tally"

echo
echo "== ryx_denovo: assemble 15000 pairs of 2 x 100 bases (inserts of 500 +- 25) from a 100 kbp genome"
echo "   with six copies of a 300-base repeat, measuring the insert and scaffolding"
"$bin/read_simulator" --genome-size 100000 --sequences 1 --repeats 6 --repeat-length 300 --reads 15000 \
  --length 100 --pairs --fragment 500 25 --seed 5 "$work/genome100k.fa" "$work/pairs1.fq" "$work/pairs2.fq"
"$bin/ryx_denovo" -o "$work/contigs.fa" -f "$work/contigs.gff" -e "$work/distances.txt" -p fb ss 400 600 \
  -q -i "$work/pairs1.fq" "$work/pairs2.fq" > "$work/denovo.log"
echo "estimated insert range (first file, second file, minimum, maximum, status):"
sed "s|$work/||g" "$work/distances.txt"
echo "contigs of at least 200 bases: $(grep -c '^>' "$work/contigs.fa"), bases in them:" \
  "$(grep -v '^>' "$work/contigs.fa" | tr -d '\n' | wc -c) of 100000; the first lines:"
head -n 3 "$work/contigs.fa"
"$bin/ryx_denovo" -n -o "$work/unjoined.fa" -p fb ss 400 600 -q -i "$work/pairs1.fq" "$work/pairs2.fq" \
  > "$work/denovo_n.log"
echo "without scaffolding (-n): $(grep -c '^>' "$work/unjoined.fa") contigs"

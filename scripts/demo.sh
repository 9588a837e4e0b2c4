#!/usr/bin/env bash
# Installs what is missing, builds the release programs and runs a small
# demonstration on data made here.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh Release
bin=build/release/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== ryx_runstat: time a small command and show its log"
awk 'BEGIN { for (i = 0; i < 200000; i++) print "ACGTTGCAACGTTGCA" }' > "$work/reads.txt"
"$bin/ryx_runstat" -l "$work/runstat.log" -c /bin/gzip -k "$work/reads.txt"
echo "exit status: $?"
cat "$work/runstat.log"

echo
echo "== ryx_pick: keep about 10% of 10000 generated reads, as FASTQ"
awk 'BEGIN { srand(7); for (i = 0; i < 10000; i++) {
  s = ""; for (j = 0; j < 50; j++) s = s substr("ACGT", int(rand() * 4) + 1, 1)
  printf "@read%d\n%s\n+\n%s\n", i, s, "IIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIIII" } }' > "$work/reads.fq"
"$bin/ryx_pick" -f 0.1 -r 42 -q "$work/sample.fq" "$work/reads.fq"
echo "reads kept: $(( $(wc -l < "$work/sample.fq") / 4 )) of 10000"
head -4 "$work/sample.fq"

echo
echo "== ryx_merge: join two small nyr mapping files"
"$bin/nyr_demo_files" 1000 "$work/lane1.nyr" "$work/lane2.nyr"
"$bin/ryx_merge" -o "$work/both.nyr" "$work/lane1.nyr" "$work/lane2.nyr"
ls -l "$work/lane1.nyr" "$work/lane2.nyr" "$work/both.nyr" | awk '{ n = $NF; sub(".*/", "", n); print n ": " $5 " bytes" }'

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
echo "exit status: $?; $(grep -c '^[ACGT]' "$work/tags.tally") tags seen at least 20 times; the listing begins:"
head -n 12 "$work/tags.tally"

echo
echo "== ryx_readalign: map 2000 reads onto a random 50 kb reference"
# A random reference of two sequences, and reads of 100 bases taken from it
# on both strands with about one substitution in 50 bases.
awk -v ref="$work/genome.fa" -v reads="$work/map_reads.fq" 'BEGIN {
  srand(11); split("A C G T", b, " "); q = ""; for (j = 0; j < 100; j++) q = q "I"
  for (s = 1; s <= 2; s++) {
    g[s] = ""; for (i = 0; i < 25000; i++) g[s] = g[s] b[int(rand() * 4) + 1]
    printf ">chr%d\n", s > ref; for (i = 1; i <= 25000; i += 70) print substr(g[s], i, 70) > ref
  }
  for (r = 0; r < 2000; r++) {
    s = int(rand() * 2) + 1; t = substr(g[s], int(rand() * 24900) + 1, 100); u = ""
    for (j = 1; j <= 100; j++) { c = substr(t, j, 1); if (rand() < 0.02) c = b[int(rand() * 4) + 1]; u = u c }
    if (rand() < 0.5) { v = ""; for (j = 100; j > 0; j--) { c = substr(u, j, 1); v = v (c == "A" ? "T" : c == "C" ? "G" : c == "G" ? "C" : "A") } u = v }
    printf "@read%d\n%s\n+\n%s\n", r, u, q > reads
  } }'
"$bin/ryx_readalign" -d "$work/genome.fa" -n "$work/genome.idx" --noprogress
"$bin/ryx_readalign" -d "$work/genome.idx" -q "$work/map_reads.fq" -o "$work/map_reads.nyr" --noprogress
echo "exit status: $?"
ls -l "$work/genome.idx" "$work/map_reads.nyr" | awk '{ n = $NF; sub(".*/", "", n); print n ": " $5 " bytes" }'

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

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

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

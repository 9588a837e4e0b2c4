#!/usr/bin/env bash
# fm_index_bench.sh [megabases]: builds the release benchmark and builds the
# single-sequence index of a random sequence and of a 1 kb unit repeated
# (default 20 Mbp each, each in its own process), printing build time,
# rank-query time and the process's peak resident memory.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timed.sh
bash scripts/build.sh Release --target fm_index_bench >/dev/null
bin=build/release/bin/fm_index_bench
mb=${1:-20}
for mode in random repeat repeat-circular; do
  timed "$bin" "$mode" "$mb"
done

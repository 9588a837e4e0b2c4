#!/usr/bin/env bash
# word_counter.sh [genome length [coverage [k [error rate]]]]: builds the
# release benchmark and runs the word counter benchmark (default a 1 Mbp
# random genome at 30x with 1 % substitutions, k = 21), printing its times,
# word throughput and count quality, and the process's peak resident memory.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timed.sh
bash scripts/build.sh Release --target word_counter_bench >/dev/null
bin=build/release/bin/word_counter_bench
timed "$bin" "$@"

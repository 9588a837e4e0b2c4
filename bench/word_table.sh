#!/usr/bin/env bash
# word_table.sh [count [k [canonical]]]: builds the release benchmark and
# runs the word table benchmark (default 10 million random 20-base words),
# printing its phase times and the process's peak resident memory.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/timed.sh
bash scripts/build.sh Release --target word_table_bench >/dev/null
bin=build/release/bin/word_table_bench
timed "$bin" "$@"

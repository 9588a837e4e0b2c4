#!/usr/bin/env bash
# word_table.sh [count [k [canonical]]]: builds the release benchmark and
# runs the word table benchmark (default 10 million random 20-base words),
# printing its phase times and the process's peak resident memory.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh Release --target word_table_bench >/dev/null
bin=build/release/bin/word_table_bench
if [ -x /usr/bin/time ]; then
  /usr/bin/time -v "$bin" "$@" 2>time.log.$$ || { cat time.log.$$ >&2; rm -f time.log.$$; exit 1; }
  grep -E "Elapsed \(wall clock\)|Maximum resident set size" time.log.$$ | sed 's/^\t*/  /'
  rm -f time.log.$$
else
  "$bin" "$@"
fi

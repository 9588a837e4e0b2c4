#!/usr/bin/env bash
# Banded dynamic programming benchmark: columns per second for read parts
# of 100 and 1000 symbols, linear and affine gaps, local and global ends,
# straight down and depth first with rollbacks; then the peak memory of the
# whole run.
#
#   bash bench/fm_band_bench.sh [seconds per case]   (default 1)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-1}
bash scripts/build.sh Release --target fm_band_bench >/dev/null
bench=build/release/bin/fm_band_bench
if [ -x /usr/bin/time ]; then
  /usr/bin/time -f "peak memory: %M KiB" "$bench" "$seconds"
else
  "$bench" "$seconds"
  echo "peak memory: not measured (/usr/bin/time is missing)"
fi

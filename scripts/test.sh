#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the release
# build, the address/undefined-behaviour sanitizer build and the thread
# sanitizer build of the threaded code.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

for type in Release Sanitize; do
  echo "== $type build"
  bash scripts/build.sh "$type"
  dir=build/$(echo "$type" | tr '[:upper:]' '[:lower:]')
  echo "== $type tests"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600
done

# Data-race checks: only the test programs that hold threaded code are built,
# and only their threaded cases run (selected by name).
tsan_targets=(common_tests seqio_tests fm_runtime_tests fm_index_tests fm_mapper_tests denovo_reads_tests denovo_app_tests tools_tests refmap_tests refmap_align_tests)
tsan_tests='Thread|^Progress\.|^Activity\.|^SeedSource'
echo "== Tsan build"
bash scripts/build.sh Tsan --target "${tsan_targets[@]}"
echo "== Tsan tests"
ctest --test-dir build/tsan --output-on-failure -j"$jobs" --timeout 600 -R "$tsan_tests"

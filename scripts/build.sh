#!/usr/bin/env bash
# build.sh <build type> [targets...]: configures and builds build/<type>.
# Build types: Release, Sanitize (address and undefined-behaviour checks),
# Tsan (data-race checks).
set -euo pipefail
cd "$(dirname "$0")/.."
type=${1:-Release}
shift || true
dir=build/$(echo "$type" | tr '[:upper:]' '[:lower:]')
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" >/dev/null
cmake --build "$dir" "$@" -- -j"$(nproc)"

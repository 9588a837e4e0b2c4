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

echo "== runtime library self-check"
build/release/tests/common_tests --gtest_brief=1

#!/usr/bin/env bash
# Builds tormid and runs every test: the g++ and clang++ release builds.
set -euo pipefail
cd "$(dirname "$0")/.."

for preset in release clang; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
echo "=== all tests passed ==="

#!/usr/bin/env bash
# Builds tormid and runs every test: the g++ and clang++ release builds, the
# AddressSanitizer + UndefinedBehaviorSanitizer build, tormid-scan over MPI
# against one process, the engine's NEON kernels cross-built for AArch64
# and checked under qemu-user, a check of the Debian package, pip install
# of the Python module into a virtual environment, and a short
# run of each fuzz harness (set FUZZ_SECONDS=0 to skip it).
set -euo pipefail
cd "$(dirname "$0")/.."

for preset in test clang sanitize; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

echo "=== mpi ==="
cmake --preset mpi >/dev/null
cmake --build --preset mpi
ctest --preset mpi

echo "=== aarch64: the engine cross-built, its kernels checked under qemu-user ==="
cmake --preset aarch64 >/dev/null
cmake --build --preset aarch64
ctest --preset aarch64

scripts/package.sh

echo "=== pip install . into a virtual environment ==="
scripts/check_pip_install.sh

seconds=${FUZZ_SECONDS:-15}
if ((seconds > 0)); then
  echo "=== fuzz smoke (${seconds}s per harness) ==="
  JOBS=2 scripts/fuzz.sh "$seconds"
fi
echo "=== all tests passed ==="

#!/usr/bin/env bash
# Builds the Debian package from the release build and checks it: its
# metadata and contents are listed, and the programs it holds run.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
(cd build/release && cpack -G DEB >/dev/null)
deb=$(ls build/release/tormid_*.deb)
echo "=== $deb ==="
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb --extract "$deb" "$scratch"
for program in tormid tormid-prf tormid-scan; do "$scratch/usr/bin/$program" --version; done
dpkg-deb --field "$deb" Depends | grep -q zlib1g || { echo "the package does not depend on zlib1g"; exit 1; }

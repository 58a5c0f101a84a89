#!/usr/bin/env bash
# Builds the Debian package from the release build and checks it: its
# metadata and contents are listed, and the programs and the Python module
# it holds run.
set -euo pipefail
cd "$(dirname "$0")/.."

# With the Python module, which the package ships for the system's python3.
cmake --preset release -DTORMID_PYTHON=ON >/dev/null
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
dpkg-deb --field "$deb" Depends | grep -q libisal || { echo "the package does not depend on libisal"; exit 1; }
python_dir=$(echo "$scratch"/usr/lib/python3.*/dist-packages)
PYTHONPATH="$python_dir" PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -c 'import tormid; print("python3: import tormid", tormid.__version__)'
dpkg-deb --field "$deb" Depends | grep -q python3 || { echo "the package does not depend on python3"; exit 1; }

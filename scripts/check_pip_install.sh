#!/usr/bin/env bash
# pip install --no-build-isolation . into a virtual environment of the
# system's python3 (with its site packages, where Debian's pip, setuptools
# and wheel are), then imports the module there and runs a search with it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
/usr/bin/python3 -m venv --without-pip --system-site-packages "$scratch/venv"
"$scratch/venv/bin/python" -m pip install --quiet --no-build-isolation "$root"
version=$(sed -n 's/^project(tormid VERSION \([0-9.]*\)$/\1/p' CMakeLists.txt)
cd "$scratch"
"$scratch/venv/bin/python" - "$root" "$version" <<'PY'
import importlib.metadata
import sys

import tormid

root, version = sys.argv[1], sys.argv[2]
assert tormid.__file__.startswith(sys.prefix + "/lib/"), f"imported from {tormid.__file__}"
assert tormid.__version__ == version, f"the module is {tormid.__version__}, CMake's project {version}"
assert importlib.metadata.version("tormid") == version, "pyproject.toml's version is not CMake's project version"
profiles = tormid.read_profiles(root + "/examples/zinc_finger.hmm")
hits = tormid.scan(profiles, root + "/examples/proteome.fasta", evalue=1e-20)
assert hits, "no hits"
print(f"pip install: tormid {tormid.__version__} imported from the venv, {len(hits)} hits")
PY

#!/usr/bin/env bash
# Installs a build into a scratch prefix, checks what arrived, and builds
# and runs a small program against the installed libraries with
# find_package: an alignment and a search.
# With the Python module, also installs it into a virtual environment of
# that Python and imports it there.
# usage: check_install.sh BUILD_DIR SOURCE_DIR VERSION [PYTHON]
set -euo pipefail
build=$1 source=$2 version=$3 python=${4:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
for file in bin/tormid bin/tormid-prf bin/tormid-scan include/tormid/engine.h include/tormid/input.h \
            include/tormid/search.h \
            share/man/man1/tormid.1.gz share/man/man1/tormid-prf.1.gz share/man/man1/tormid-scan.1.gz; do
  [ -e "$scratch/prefix/$file" ] || { echo "missing after install: $file"; exit 1; }
done
[ "$("$scratch/prefix/bin/tormid" --version | head -n 1)" = "tormid $version" ] || { echo "wrong version"; exit 1; }
cmake -S "$source/tests/install" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
cmake --build "$scratch/consumer" >/dev/null
out=$("$scratch/consumer/consumer")
expected=$'15.000 acd ACD\nsearch: 1 hit, planted 12-20 of 3 records'
[ "$out" = "$expected" ] || { echo "the consumer printed: $out"; exit 1; }
echo "installed, found with find_package and linked: $out"
if [ -n "$python" ]; then
  "$python" -m venv --without-pip --system-site-packages "$scratch/venv"
  cmake --install "$build" --prefix "$scratch/venv" >/dev/null
  found=$(cd "$scratch" && "$scratch/venv/bin/python" -c 'import tormid; print(tormid.__file__)')
  case $found in
    "$scratch/venv/lib/"*/site-packages/*) echo "the Python module imported from the virtual environment: ${found#"$scratch/"}" ;;
    *) echo "the virtual environment's Python imported tormid from $found"; exit 1 ;;
  esac
fi

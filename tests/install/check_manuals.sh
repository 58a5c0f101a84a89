#!/usr/bin/env bash
# Renders each manual page with groff and man; any warning fails.
# usage: check_manuals.sh PAGE...
set -euo pipefail
for page in "$@"; do
  warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
  if [ -n "$warnings" ]; then
    echo "$page: groff warns:"; echo "$warnings"; exit 1
  fi
  if command -v man >/dev/null; then
    warnings=$(MANWIDTH=80 man --warnings=w -l "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then
      echo "$page: man warns:"; echo "$warnings"; exit 1
    fi
    MANWIDTH=80 man -l "$page" | grep -q "SYNOPSIS" || { echo "$page: no SYNOPSIS"; exit 1; }
  fi
  echo "$page: renders without warnings"
done

#!/bin/bash
# Cross-checks velta-render against the Python reference model of the reader and synthesizer:
# event dumps must agree line for line and renders sample for sample.
# Usage: crosscheck.sh VELTA_RENDER SOURCE_DIR
set -u
if ! command -v python3 >/dev/null 2>&1; then
  echo "python3 not found: skipping"
  exit 77
fi
here=$(cd "$(dirname "$0")" && pwd)
python3 "$here/reference/test_model.py" -q || exit 1
exec python3 "$here/reference/crosscheck.py" "$1" "${2:-$here/..}"

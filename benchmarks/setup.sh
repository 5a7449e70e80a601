#!/usr/bin/env bash
# Builds a benchmark environment (.venv-bench) with quernel and its peers, then runs the suite.
# Usage: benchmarks/setup.sh [run.py arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
python3 -m venv .venv-bench
.venv-bench/bin/pip install -q . -r benchmarks/requirements.txt
exec .venv-bench/bin/python benchmarks/run.py "$@"

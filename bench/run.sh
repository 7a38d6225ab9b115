#!/usr/bin/env bash
# Builds the release tree and runs the tool against cat on inputs made by
# the fixture builder (see merge_bench.cc). Extra arguments go to the
# runner: --pairs N, --case large|small|grow-8M|grow-256M, --dir DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --workflow --preset release >/dev/null
exec build/release/bench/merge_bench build/release/blkmerge "$@"

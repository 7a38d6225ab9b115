#!/usr/bin/env bash
# Builds the bench tree (the tool, optimised as in the release tree, beside
# the benchmarks) and runs the tool against cat on inputs made by the fixture
# builder (see merge_bench.cc), then, but for the -rerun cases, blkinspect
# --job on the outputs against cat of the merged file and the inputs. Extra
# arguments go to the runner:
# --pairs N, --case NAME (large, large-rerun, large-cold, small, small-rerun,
# small-cold, grow-8M, grow-256M), --dir DIR, --evict drop|fadvise.
set -euo pipefail
cd "$(dirname "$0")/.."
# The build's output is shown only when it fails.
if ! log=$(cmake --workflow --preset bench 2>&1); then
  printf '%s\n' "$log" >&2
  exit 1
fi
exec build/bench/bench/merge_bench build/bench/blkmerge --inspect build/bench/blkinspect "$@"

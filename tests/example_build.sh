#!/usr/bin/env bash
# Builds the example project (examples/CMakeLists.txt) with one CMake
# generator and checks that the pack runs exactly when it should: on the
# first build; not on a second; again once an input listed in the job
# changes; and that a damaged input fails the build until it is mended.
#
#   example_build.sh CMAKE GENERATOR TOOLS_DIR EXAMPLES_DIR WORK_DIR
#
# Exits 77 (skipped) where the generator's build tool is missing.
set -euo pipefail
cmake=$1 generator=$2 tools=$3 examples=$4 work=$5

case $generator in
  Ninja) program=ninja ;;
  *) program=make ;;
esac
command -v "$program" >/dev/null || {
  echo "example build: $program is missing; skipped"
  exit 77
}

fail() {
  echo "example build ($generator): $*" >&2
  exit 1
}

rm -rf "$work"
log=$("$cmake" -S "$examples" -B "$work" -G "$generator" -DBLKMERGE_TOOLS="$tools" 2>&1) || {
  printf '%s\n' "$log"
  fail "the configure failed"
}

# build WHAT WHEN: builds once; WHAT is what must happen: "packs" (the pack
# runs and succeeds, and its outputs are what the job gives), "idle"
# (nothing runs) or "fails" (the pack runs and the build fails on the
# damaged input).
build() {
  local what=$1 when=$2 status=0 packed=no
  log=$("$cmake" --build "$work" 2>&1) || status=$?
  grep -q 'Packing example.job' <<<"$log" && packed=yes
  case $what in
    packs)
      [ "$status" -eq 0 ] && [ $packed = yes ] &&
        grep -q '^Produced cons_fix file cons_fix.out' <<<"$log" &&
        (cd "$work" && "$tools/blkinspect" --job example.job merged.out cons_fix.out >/dev/null) ;;
    idle) [ "$status" -eq 0 ] && [ $packed = no ] ;;
    fails)
      [ "$status" -ne 0 ] && [ $packed = yes ] &&
        grep -q '^Input file two.src is truncated or damaged$' <<<"$log" ;;
  esac || {
    printf '%s\n' "$log"
    fail "$when: the build did not do what it should ($what; exit status $status)"
  }
}

# Past the file system's clock tick, so that a change is newer than the
# outputs.
tick() { sleep 0.1; }

build packs "the first build"
build idle "a second build"
tick && touch "$work/two.src"
build packs "a build after two.src was touched"
build idle "the build after that"
cp "$work/two.src" "$work/two.src.good"
tick && truncate -s 100 "$work/two.src"
build fails "a build with two.src cut short"
build fails "a second build with two.src cut short"
tick && cp "$work/two.src.good" "$work/two.src"
build packs "a build with two.src mended"
build idle "the build after that"
echo "example build ($generator): the pack ran when, and only when, it should"

#!/usr/bin/env bash
# Remakes the example inputs with the project's fixture builder:
#   examples/make_inputs.sh path/to/make_fixture
set -euo pipefail
make_fixture=$(realpath "${1:?usage: make_inputs.sh MAKE_FIXTURE}")
cd "$(dirname "$0")"
"$make_fixture" one.src 1 1 2 1
"$make_fixture" two.src 3 0 4 2 16
"$make_fixture" three.src 0 2 1 3

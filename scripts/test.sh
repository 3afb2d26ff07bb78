#!/bin/sh
# Installs what is missing, builds and runs the whole test suite.
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
sh scripts/build.sh
cd build
ctest -j2 --output-on-failure "$@"

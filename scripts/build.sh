#!/bin/sh
# Configures and builds into build/ (the program ends up at build/bin/updater).
# Extra arguments go to the CMake configuration.
set -e
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build build -j "$(nproc)"

#!/bin/sh
# Installs what is missing, builds, and shows the tool at work.
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
sh scripts/build.sh
./build/bin/updater -h

#!/bin/sh
# Installs what is missing, builds, and shows the tool at work against a virtual module on a
# private network (a network namespace, so discovery never leaves this machine).
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
sh scripts/build.sh
if ! unshare -n true 2>/dev/null; then
  echo "the demo needs root to make a private network namespace; showing the help instead" >&2
  exec ./build/bin/updater -h
fi
exec sh tests/wrappers/run-in-netns.sh sh scripts/demo-network.sh

#!/bin/sh
# Inside a private network namespace: a virtual router module with two modules behind it,
# found and listed by the real updater over TCP/IP.
set -e
bin="$(dirname "$0")/../build/bin"
ready="$(mktemp)"
"$bin/virtual-module" --address 10.77.0.1 --port 0 --serial 40F5849A --model 0x13 \
  --version 2.1.7 --build 99528558 --module 4:11112222:17:1.4.2:41 \
  --module 10:33334444:5:1.2.3:77 --answer-absent --discovery 10.77.0.1 >"$ready" &
module=$!
trap 'kill $module 2>/dev/null; rm -f "$ready"' EXIT
for _ in $(seq 50); do grep -q ready "$ready" && break; sleep 0.1; done
echo "\$ updater -D -t TCP"
"$bin/updater" -D -t TCP
echo
echo "\$ updater -D -r 40F5849A -t TCP"
"$bin/updater" -D -r 40F5849A -t TCP

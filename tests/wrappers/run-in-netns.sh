#!/bin/sh
# Runs a test inside a fresh private network namespace with a veth pair, so that discovery
# multicast never leaves this machine. Where a namespace can't be made (not root), the test
# runs as it is with UPDATER_NETNS unset and skips what needs the namespace; a value set by
# the caller is never trusted, since the test would then send on the real network.
if unshare -n true 2>/dev/null; then
  exec unshare -n sh -c '
    ip link set lo up &&
    ip link add v0 type veth peer name v1 &&
    ip addr add 10.77.0.1/24 dev v0 &&
    ip addr add 10.77.0.2/24 dev v1 &&
    ip link set v0 up && ip link set v1 up &&
    ip route add 224.0.0.0/4 dev v0 &&
    UPDATER_NETNS=10.77.0.1 exec "$@"' run-in-netns "$@"
fi
unset UPDATER_NETNS
exec "$@"

#!/bin/sh
# Runs a test under umockdev's preload so that libusb and hidapi see emulated devices.
# Without umockdev the test runs as it is with UPDATER_UMOCKDEV unset and skips.
if [ -z "$UPDATER_UMOCKDEV" ] && command -v umockdev-wrapper >/dev/null 2>&1; then
  UPDATER_UMOCKDEV=1 ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
    exec umockdev-wrapper "$@"
fi
exec "$@"

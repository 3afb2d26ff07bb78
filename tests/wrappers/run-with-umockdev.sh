#!/bin/sh
# Runs a test under umockdev's preload so that libusb and hidapi see emulated devices.
# Without umockdev the test runs as it is with UPDATER_UMOCKDEV unset and skips.
# ASan must not insist on coming first in the library list (the preload does); TSan is told
# to leave the uninstrumented emulation and libusb alone.
if [ -z "$UPDATER_UMOCKDEV" ] && command -v umockdev-wrapper >/dev/null 2>&1; then
  here=$(cd "$(dirname "$0")" && pwd)
  UPDATER_UMOCKDEV=1 \
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
  TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}suppressions=$here/umockdev-tsan.supp" \
    exec umockdev-wrapper "$@"
fi
exec "$@"

#!/bin/sh
# Installs the Debian packages the build and the tests need, when they are missing.
set -e
packages="cmake g++ make pkg-config googletest libgtest-dev
  libusb-1.0-0-dev libhidapi-dev libcurl4-openssl-dev zlib1g-dev
  libcpp-httplib-dev umockdev libumockdev-dev iproute2 util-linux"
missing=""
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
    missing="$missing $package"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages:$missing (run as root to install them)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends $missing

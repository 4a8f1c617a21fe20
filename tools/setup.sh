#!/bin/sh
# Installs what building and testing Quillbox needs (Debian 12), then
# configures and builds into build/ (or $QB_BUILD_DIR): everything, or only
# the ninja targets listed in $QB_TARGETS.
# Usage: tools/setup.sh [extra cmake arguments]; QB_EXTRA_PACKAGES adds
# Debian packages to install.
set -eu
cd "$(dirname "$0")/.."

PACKAGES="g++ cmake ninja-build pkg-config libssl-dev nlohmann-json3-dev libgtest-dev libgmock-dev \
libbenchmark-dev libtiff-dev libtiff-tools poppler-utils qpdf python3 curl lftp \
netcat-openbsd iproute2 python3-pil openssl systemd debhelper dpkg-dev lintian man-db \
libmicrohttpd-dev libpoppler-cpp-dev libpng-dev libjpeg-dev \
${QB_EXTRA_PACKAGES:-}"

missing=""
for package in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $package"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing:$missing"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
fi

BUILD_DIR="${QB_BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -G Ninja "$@" >/dev/null
# shellcheck disable=SC2086 # the target list is split on purpose
ninja -C "$BUILD_DIR" ${QB_TARGETS:-}

#!/bin/sh
# Builds the fuzz targets (clang, libFuzzer, address and undefined-behaviour
# sanitizers) into build-fuzz/ (or $QB_FUZZ_BUILD_DIR) and runs each once
# over its seed corpus (tests/fuzz/corpus/<target>/). Only the libraries the
# targets need are built: no unit tests, no benchmarks, no programs.
set -eu
cd "$(dirname "$0")/.."

PACKAGES="clang libclang-rt-dev cmake ninja-build libssl-dev"
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

BUILD_DIR="${QB_FUZZ_BUILD_DIR:-build-fuzz}"
CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DQB_FUZZ=ON \
  -DQB_BUILD_TESTS=OFF -DQB_BUILD_BENCH=OFF "$@" >/dev/null
ninja -C "$BUILD_DIR" qb_fuzz_targets
ctest --test-dir "$BUILD_DIR" -L fuzz --output-on-failure -j2

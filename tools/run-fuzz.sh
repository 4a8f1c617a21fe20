#!/bin/sh
# Builds the fuzz targets (clang, libFuzzer, address and undefined-behaviour
# sanitizers) into build-fuzz/ (or $QB_FUZZ_BUILD_DIR) and runs each once
# over its seed corpus (tests/fuzz/corpus/<target>/). Only the libraries the
# targets need are built: no unit tests, no benchmarks, no programs.
set -eu
cd "$(dirname "$0")/.."

# The packages and the configure-and-build step are setup.sh's, with clang.
export QB_BUILD_DIR="${QB_FUZZ_BUILD_DIR:-build-fuzz}" QB_EXTRA_PACKAGES="clang libclang-rt-dev" \
  QB_TARGETS=qb_fuzz_targets
[ -e "$QB_BUILD_DIR/CMakeCache.txt" ] || export CC=clang CXX=clang++
tools/setup.sh -DQB_FUZZ=ON -DQB_BUILD_TESTS=OFF -DQB_BUILD_BENCH=OFF "$@"
BUILD_DIR="$QB_BUILD_DIR"
ctest --test-dir "$BUILD_DIR" -L fuzz --output-on-failure -j2

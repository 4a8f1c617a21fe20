#!/bin/sh
# Installs what is missing, builds, and runs the whole test suite.
# QB_SANITIZE=1 runs it in an address+undefined sanitizer build instead,
# compiled with clang (whose sanitizer checks alignment, among others, more
# strictly); the plain build uses g++.
# Compiler warnings count as errors here (QB_WERROR).
set -eu
cd "$(dirname "$0")/.."
if [ "${QB_SANITIZE:-0}" = 1 ]; then
  export QB_BUILD_DIR=build-asan QB_EXTRA_PACKAGES="clang libclang-rt-dev"
  [ -e build-asan/CMakeCache.txt ] || export CC=clang CXX=clang++
  tools/setup.sh -DQB_WERROR=ON -DQB_SANITIZE=ON -DQB_BUILD_BENCH=OFF
else
  tools/setup.sh -DQB_WERROR=ON
fi
ctest --test-dir "${QB_BUILD_DIR:-build}" --output-on-failure -j2 --timeout 600

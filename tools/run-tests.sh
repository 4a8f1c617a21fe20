#!/bin/sh
# Installs what is missing, builds, and runs the whole test suite.
# QB_SANITIZE=1 runs it in an address+undefined sanitizer build instead.
# Compiler warnings count as errors here (QB_WERROR).
set -eu
cd "$(dirname "$0")/.."
if [ "${QB_SANITIZE:-0}" = 1 ]; then
  export QB_BUILD_DIR=build-asan
  tools/setup.sh -DQB_WERROR=ON -DQB_SANITIZE=ON -DQB_BUILD_BENCH=OFF
else
  tools/setup.sh -DQB_WERROR=ON
fi
ctest --test-dir "${QB_BUILD_DIR:-build}" --output-on-failure -j2 --timeout 600

#!/bin/sh
# Installs what is missing, builds, and runs the whole test suite.
# QB_SANITIZE=1 runs it in an address+undefined sanitizer build instead,
# compiled with clang (whose sanitizer checks alignment, among others, more
# strictly); QB_SANITIZE=thread runs the in-process tests (the ones with
# threads among them) under the thread sanitizer. The plain build uses g++.
# Compiler warnings count as errors here (QB_WERROR).
set -eu
cd "$(dirname "$0")/.."
case "${QB_SANITIZE:-0}" in
  1)
    export QB_BUILD_DIR=build-asan QB_EXTRA_PACKAGES="clang libclang-rt-dev"
    [ -e build-asan/CMakeCache.txt ] || export CC=clang CXX=clang++
    tools/setup.sh -DQB_WERROR=ON -DQB_SANITIZE=ON -DQB_BUILD_BENCH=OFF
    ;;
  thread)
    export QB_BUILD_DIR=build-tsan QB_EXTRA_PACKAGES="clang libclang-rt-dev"
    [ -e build-tsan/CMakeCache.txt ] || export CC=clang CXX=clang++
    tools/setup.sh -DQB_WERROR=ON -DQB_TSAN=ON -DQB_BUILD_BENCH=OFF
    # The end-to-end tests run the programs as separate processes; the
    # sanitizer watches threads within one.
    exec ctest --test-dir build-tsan --output-on-failure -j2 --timeout 600 -E '^e2e'
    ;;
  *)
    tools/setup.sh -DQB_WERROR=ON
    ;;
esac
# The browser test of the web page: chromium, node, playwright-core.
tools/browser-deps.sh
export QB_REQUIRE_BROWSER=1
ctest --test-dir "${QB_BUILD_DIR:-build}" --output-on-failure -j2 --timeout 600

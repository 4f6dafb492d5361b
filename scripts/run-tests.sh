#!/usr/bin/env bash
# Installs what is missing, builds Quillon and runs every test headless: each GUI
# and GL test runs on an Xvfb display of its own with Mesa's software OpenGL. The stress runs
# (ctest label "stress") are left out; run them by hand with ctest -L stress.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
build=${QUILLON_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DQUILLON_WERROR=ON ${QUILLON_CMAKE_ARGS:-}
cmake --build "$build"
export LIBGL_ALWAYS_SOFTWARE=1
# Two tests per core: most of them wait on servers, players and timers rather than compute.
jobs=${QUILLON_CTEST_JOBS:-$(($(nproc) * 2))}
ctest --test-dir "$build" --output-on-failure -j "$jobs" -LE stress ${QUILLON_CTEST_ARGS:-}

#!/usr/bin/env bash
# Installs what is missing, builds Quillon and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
build=${QUILLON_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja
cmake --build "$build"
exec "$build/Quillon" "$@"

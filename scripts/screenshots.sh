#!/usr/bin/env bash
# Takes the README's screenshots (docs/login.png, docs/main.png, docs/main-server.png, docs/defish*.png)
# under Xvfb with Mesa's software OpenGL, against the site simulator running the
# demo site. Needs a build (QUILLON_BUILD_DIR, default build/).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUILLON_BUILD_DIR:-build}
cmake --build "$build" --target quillon-screenshots
export LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1100x760x24" "$build/tests/e2e/quillon-screenshots" "$PWD/docs"

#!/usr/bin/env bash
# Defish shader frames per second against ffmpeg's v360 filter, one command.
# Usage: bash bench/defish_fps.sh [BUILD_DIR] [bench_defish_fps options: --size WxH --input WxH --frames N ...]
# With an X display (DISPLAY set) GStreamer GL renders there. Without one it first tries EGL without a
# display (a GPU driver that offers an EGL device, e.g. on a headless GPU server), and falls back to
# Xvfb with Mesa's software GL.
set -uo pipefail
build=build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
    build=$1
    shift
fi
bin=$(realpath "$build")/bench/bench_defish_fps
if [ ! -x "$bin" ]; then
    echo "no $bin: build it with ninja -C $build bench_defish_fps" >&2
    exit 2
fi
echo "== machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
if [ -n "${DISPLAY:-}" ]; then
    echo "== GL on display $DISPLAY"
    exec "$bin" "$@"
fi
echo "== no display: trying EGL without a window system"
if GST_GL_PLATFORM=egl GST_GL_WINDOW=egl "$bin" "$@"; then
    exit 0
fi
echo "== EGL without a display failed; Xvfb with Mesa software GL"
exec xvfb-run -a -s "-screen 0 1920x1080x24" env LIBGL_ALWAYS_SOFTWARE=1 "$bin" "$@"

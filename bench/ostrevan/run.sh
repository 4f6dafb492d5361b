#!/usr/bin/env bash
# Streaming server benchmarks, run by hand (figures in docs/performance.md):
#   1. CPU dewarp (remap table) against ffmpeg's v360 filter on the same 1080p frames, 1280x720 out,
#      on one thread and in bands on all cores;
#   2. how many 1280x720@15 views of one 1080p30 stream the server keeps in real time, CPU and GL
#      path, with the stream's decoded frame count to show it is decoded once, the server's CPU
#      time, the load average (other work on the machine counts in it) and the GL context threads;
#   3. what --dewarp auto measures and picks;
#   4. a new client's PLAY answer and first key frame beside 0 .. 20 watched views, and the server's
#      resident size and CPU per watched view (bench_ostrevan_join);
#   5. a 360-degree panorama of a 2992x2992 15 fps fisheye stream beside four perspective views of it,
#      against five perspective views: the remap of each on its own, then frames per second per view
#      and the server's CPU time over the wall time, CPU and GL path;
#   6. what the server adds to the latency from the publisher to a client, against the same client
#      reading the source directly, and a new client's first picture (bench_ostrevan_latency).
# Usage: [SECTIONS="2 5"] [SERVER_NICE=-5] bash bench/ostrevan/run.sh [BUILD_DIR] [MAX_VIEWS] [MODES] [all]
#   SECTIONS: the sections to run, all by default; SERVER_NICE: the server's nice value in sections 2 and 5
#   (0 by default; -5 as root puts it ahead of builds that share the machine); MODES: "cpu gl" by default; all: go on up to
#   MAX_VIEWS after the first count that is not real time.
set -euo pipefail
build=$(realpath "${1:-build}")
max=${2:-8}
modes=${3:-cpu gl}
keep_going=${4:-}
sections=" ${SECTIONS:-1 2 3 4 5 6} "
# The server's nice value in sections 2 and 5 (negative, as root: ahead of other work on the machine).
server_nice=${SERVER_NICE:-0}
want() { [[ $sections == *" $1 "* ]]; }
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
export LIBGL_ALWAYS_SOFTWARE=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
server=$build/ostrevan
clients=$build/bench/ostrevan/bench_ostrevan_clients

echo "== machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
if want 1 || want 2 || want 3 || want 4; then
    echo "== source: 1080p30 H.264, 40 s"
    ffmpeg -loglevel error -f lavfi -i "testsrc2=size=1920x1080:rate=30" -t 40 -pix_fmt yuv420p \
        -c:v libx264 -preset veryfast -g 30 "$work/src.mp4"
fi

if want 1; then
    echo "== 1. CPU dewarp against ffmpeg v360, 1920x1080 -> 1280x720, bilinear, the same 60 frames"
    ffmpeg -loglevel error -i "$work/src.mp4" -frames:v 60 -f rawvideo -pix_fmt yuv420p "$work/raw.yuv"
    "$build/bench/ostrevan/bench_ostrevan_remap" "$work/raw.yuv" 1920 1080 1280 720 300
    v360="v360=input=fisheye:output=flat:ih_fov=180:iv_fov=180:h_fov=90:v_fov=58.7:yaw=45:pitch=30:w=1280:h=720:interp=line"
    rtime() { grep -o 'rtime=[0-9.]*' | cut -d= -f2; }
    for threads in 1 2; do
        base=$(ffmpeg -benchmark -f rawvideo -pix_fmt yuv420p -s 1920x1080 -stream_loop 4 -i "$work/raw.yuv" \
            -f null - 2>&1 | rtime)
        with=$(ffmpeg -benchmark -f rawvideo -pix_fmt yuv420p -s 1920x1080 -stream_loop 4 -i "$work/raw.yuv" \
            -filter_threads $threads -vf "$v360" -f null - 2>&1 | rtime)
        awk -v b="$base" -v w="$with" -v t=$threads \
            'BEGIN { ms = (w - b) * 1000 / 300; printf "ffmpeg v360, %d filter thread(s): %.2f ms/frame, %.1f fps (300 frames, %.2f s with v360, %.2f s reading alone)\n", t, ms, 1000 / ms, w, b }'
    done
fi

site=$build/bench/ostrevan/bench_ostrevan_site
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# watch MODE VIEW...: serves $work/objects.data with --dewarp MODE, watches each VIEW of stream CAM with one
# client for 15 s after 3 s to connect, and prints one line: the clients' frame rates, the server's CPU
# time over the wall time while they watched, the frames decoded and served, the GL context threads
# and the load average. Leaves the clients' worst rate in $worst and the per-view lines in $work/clients.log.
watch() {
    local mode=$1
    shift
    nice -n "$server_nice" "$server" "$work/objects.data" --port 0 --address 127.0.0.1 --dewarp "$mode" --stats 5 \
        >"$work/server.log" 2>&1 &
    local pid=$!
    for _ in $(seq 100); do grep -q 'listening on' "$work/server.log" && break; sleep 0.1; done
    local port
    port=$(grep -o 'listening on 127.0.0.1:[0-9]*' "$work/server.log" | cut -d: -f2)
    local urls=()
    for view in "$@"; do urls+=("rtsp://127.0.0.1:$port/CAM/$view"); done
    local ticks0 wall0 load0
    ticks0=$(cpu_ticks $pid)
    wall0=$(date +%s%N)
    load0=$(cut -d' ' -f1 /proc/loadavg)
    # GL threads while the clients watch.
    (sleep 10; cat /proc/$pid/task/*/comm 2>/dev/null | grep -c '^gstglcontext' >"$work/glthreads" || true) &
    local probe=$!
    "$clients" 15 "${urls[@]}" >"$work/clients.log" 2>&1
    local ticks1 wall1
    ticks1=$(cpu_ticks $pid)
    wall1=$(date +%s%N)
    wait $probe
    sleep 5.5
    kill $pid; wait $pid 2>/dev/null || true
    worst=$(grep -o 'worst [0-9.]*' "$work/clients.log" | cut -d' ' -f2)
    local decoded served
    decoded=$(grep -o 'decoded [0-9]*' "$work/server.log" | tail -1 | cut -d' ' -f2)
    served=$(grep 'Stats: view' "$work/server.log" | tail -n $# | grep -o 'served [0-9]*' | awk '{ s += $2 } END { print s }')
    echo "$mode, $# view(s): $(tail -1 "$work/clients.log" | cut -d: -f2-); server CPU $(( (ticks1 - ticks0) * 100 * 1000000000 / $(getconf CLK_TCK) / (wall1 - wall0) ))% of one core over $(( (wall1 - wall0) / 1000000000 )) s; stream decoded $decoded frames in all, views served $served in all; $(cat "$work/glthreads") GL context thread(s); load average $load0 -> $(cut -d' ' -f1 /proc/loadavg)"
}

if want 2; then
    echo "== 2. views of one 1080p30 stream at 1280x720@15 (real time: every view >= 14 fps)"
    for mode in $modes; do
        for n in $(seq 1 "$max"); do
            "$site" "$work/objects.data" "file:$work/src.mp4" 1920 1080 "$n"
            views=()
            for i in $(seq 0 $((n - 1))); do views+=("v$i"); done
            watch "$mode" "${views[@]}"
            if awk -v w="$worst" 'BEGIN { exit !(w < 14) }'; then
                echo "    $(grep '^view' "$work/clients.log" | tr '\n' ' ')"
                [ -n "$keep_going" ] || break
            fi
        done
    done
fi

if want 3; then
    echo "== 3. --dewarp auto: what it measures at start, and what it picks"
    "$site" "$work/objects.data" "file:$work/src.mp4" 1920 1080 1
    "$server" "$work/objects.data" --port 0 --address 127.0.0.1 --dewarp auto >"$work/server.log" 2>&1 &
    pid=$!
    for _ in $(seq 300); do grep -q 'listening on' "$work/server.log" && break; sleep 0.1; done
    kill $pid; wait $pid 2>/dev/null || true
    grep -E 'Measured|Dewarping on' "$work/server.log" || true
fi

if want 4; then
    echo "== 4. a new client beside 0 .. 20 watched views of the 1080p30 stream at 640x360@15 (CPU path)"
    "$site" "$work/objects.data" "file:$work/src.mp4" 1920 1080 21
    "$server" "$work/objects.data" --port 0 --address 127.0.0.1 --dewarp cpu --width 640 --height 360 \
        >"$work/server.log" 2>&1 &
    pid=$!
    for _ in $(seq 100); do grep -q 'listening on' "$work/server.log" && break; sleep 0.1; done
    port=$(grep -o 'listening on 127.0.0.1:[0-9]*' "$work/server.log" | cut -d: -f2)
    echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
    "$build/bench/ostrevan/bench_ostrevan_join" $pid "$port" 20
    echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
    kill $pid; wait $pid 2>/dev/null || true
fi

if want 5; then
    echo "== 5. a 360-degree panorama (1920x480) beside four perspective views (1280x720) of one 2992x2992 15 fps"
    echo "   stream, against five perspective views of it (real time: every view >= 14 fps)"
    # A ceiling camera's picture: testsrc2's equirectangular scene seen through a 180-degree fisheye, High
    # profile; kept in the temporary folder between runs, as it takes minutes to make.
    fisheye=${TMPDIR:-/tmp}/quillon-bench-fisheye2992-15fps-20s.mp4
    if [ ! -s "$fisheye" ]; then
        ffmpeg -loglevel error -y -f lavfi -i "testsrc2=size=2048x1024:rate=15" -t 20 \
            -vf "v360=input=e:output=fisheye:h_fov=180:v_fov=180:w=2992:h=2992,format=yuv420p" \
            -c:v libx264 -preset veryfast -g 15 "$fisheye.part.mp4"
        mv "$fisheye.part.mp4" "$fisheye"
    fi
    ffmpeg -loglevel error -i "$fisheye" -frames:v 10 -f rawvideo -pix_fmt yuv420p "$work/fisheye.yuv"
    for shape in "perspective 1280 720" "panorama 1920 480"; do
        set -- $shape
        "$build/bench/ostrevan/bench_ostrevan_remap" "$work/fisheye.yuv" 2992 2992 "$2" "$3" 150 "$1"
    done
    rm -f "$work/fisheye.yuv"
    for mode in $modes; do
        for config in "5" "4 panorama"; do
            # bench_ostrevan_site names the perspective views v0, v1 ... and the panorama after its mode.
            "$site" "$work/objects.data" "file:$fisheye" 2992 2992 $config
            set -- $config
            views=()
            for i in $(seq 0 $(($1 - 1))); do views+=("v$i"); done
            shift
            views+=("$@")
            watch "$mode" "${views[@]}"
            echo "    $(grep '^view' "$work/clients.log" | tr '\n' ' ')(views ${views[*]})"
            grep 'Stats: view' "$work/server.log" | tail -n ${#views[@]} | sed 's/^/    server: /'
        done
    done
fi

if want 6; then
    echo "== 6. latency added by the server (1280x960 at 30 fps on ZeroMQ, a 1280x720@15 view, CPU path), and new clients"
    "$build/bench/ostrevan/bench_ostrevan_latency" 20 5
fi

echo "== load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

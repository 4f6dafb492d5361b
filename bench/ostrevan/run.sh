#!/usr/bin/env bash
# Streaming server benchmarks, run by hand (figures in docs/performance.md):
#   1. CPU dewarp (remap table) against ffmpeg's v360 filter on the same 1080p frames, 1280x720 out,
#      on one thread and in bands on all cores;
#   2. how many 1280x720@15 views of one 1080p30 stream the server keeps in real time, CPU and GL
#      path, with the stream's decoded frame count to show it is decoded once, the server's CPU
#      time, the load average (other work on the machine counts in it) and the GL context threads;
#   3. what --dewarp auto measures and picks;
#   4. a new client's PLAY answer and first key frame beside 0 .. 20 watched views, and the server's
#      resident size and CPU per watched view (bench_ostrevan_join).
# Usage: bash bench/ostrevan/run.sh [BUILD_DIR] [MAX_VIEWS] [MODES] [all]
#   MODES: "cpu gl" by default; all: go on up to MAX_VIEWS after the first count that is not real time.
set -euo pipefail
build=$(realpath "${1:-build}")
max=${2:-8}
modes=${3:-cpu gl}
keep_going=${4:-}
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
export LIBGL_ALWAYS_SOFTWARE=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
server=$build/ostrevan
clients=$build/bench/ostrevan/bench_ostrevan_clients

echo "== machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== source: 1080p30 H.264, 40 s"
ffmpeg -loglevel error -f lavfi -i "testsrc2=size=1920x1080:rate=30" -t 40 -pix_fmt yuv420p \
    -c:v libx264 -preset veryfast -g 30 "$work/src.mp4"

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

write_db() { # file views
    python3 - "$1" "$2" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("CREATE TABLE IF NOT EXISTS gateways (id INTEGER PRIMARY KEY AUTOINCREMENT, serial TEXT,host TEXT,port INTEGER,isActive INTEGER)")
db.execute("CREATE TABLE IF NOT EXISTS streams (id INTEGER PRIMARY KEY AUTOINCREMENT, serialGateway TEXT,serial TEXT,url TEXT,isFisheye INTEGER,centerX REAL,centerY REAL,radius REAL,fov REAL,isActive INTEGER)")
db.execute("CREATE TABLE IF NOT EXISTS views (id INTEGER PRIMARY KEY AUTOINCREMENT, serialStream TEXT, name TEXT, roll REAL, tilt REAL, pan REAL, zoom REAL, isActive INTEGER)")
db.execute("DELETE FROM gateways"); db.execute("DELETE FROM streams"); db.execute("DELETE FROM views")
db.execute("INSERT INTO gateways(serial,host,port,isActive) VALUES('GW','127.0.0.1',80,1)")
db.execute("INSERT INTO streams(serialGateway,serial,url,isFisheye,centerX,centerY,radius,fov,isActive) VALUES('GW','CAM','file:' || ?,1,960,540,540,180,1)", (sys.argv[1].rsplit('/',1)[0] + '/src.mp4',))
for i in range(int(sys.argv[2])):
    db.execute("INSERT INTO views(serialStream,name,roll,tilt,pan,zoom,isActive) VALUES('CAM',?,0,30,?,90,1)", ("v%d" % i, i * 360.0 / int(sys.argv[2])))
db.commit()
PY
}
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

echo "== 2. views of one 1080p30 stream at 1280x720@15 (real time: every view >= 14 fps)"
for mode in $modes; do
    for n in $(seq 1 "$max"); do
        write_db "$work/objects.data" "$n"
        "$server" "$work/objects.data" --port 0 --address 127.0.0.1 --dewarp $mode --stats 5 >"$work/server.log" 2>&1 &
        pid=$!
        for _ in $(seq 100); do grep -q 'listening on' "$work/server.log" && break; sleep 0.1; done
        port=$(grep -o 'listening on 127.0.0.1:[0-9]*' "$work/server.log" | cut -d: -f2)
        urls=()
        for i in $(seq 0 $((n - 1))); do urls+=("rtsp://127.0.0.1:$port/CAM/v$i"); done
        ticks0=$(cpu_ticks $pid)
        load0=$(cut -d' ' -f1 /proc/loadavg)
        decoded0=$(grep -o 'decoded [0-9]*' "$work/server.log" | tail -1 | cut -d' ' -f2 || true)
        # GL threads while the clients watch.
        (sleep 10; cat /proc/$pid/task/*/comm 2>/dev/null | grep -c '^gstglcontext' >"$work/glthreads" || true) &
        "$clients" 15 "${urls[@]}" >"$work/clients.log" 2>&1
        ticks1=$(cpu_ticks $pid)
        wait $!
        glthreads=$(cat "$work/glthreads")
        sleep 5.5
        kill $pid; wait $pid 2>/dev/null || true
        worst=$(grep -o 'worst [0-9.]*' "$work/clients.log" | cut -d' ' -f2)
        decoded=$(grep -o 'decoded [0-9]*' "$work/server.log" | tail -1 | cut -d' ' -f2)
        served=$(grep 'Stats: view' "$work/server.log" | tail -n "$n" | grep -o 'served [0-9]*' | awk '{ s += $2 } END { print s }')
        echo "$mode, $n view(s): $(tail -1 "$work/clients.log" | cut -d: -f2-); server CPU $(( (ticks1 - ticks0) * 100 / $(getconf CLK_TCK) / 18 ))% of one core over 18 s; stream decoded $decoded frames in all, views served $served in all; $glthreads GL context thread(s); load average $load0 -> $(cut -d' ' -f1 /proc/loadavg)"
        if awk -v w="$worst" 'BEGIN { exit !(w < 14) }'; then
            echo "    $(grep '^view' "$work/clients.log" | tr '\n' ' ')"
            [ -n "$keep_going" ] || break
        fi
    done
done

echo "== 3. --dewarp auto: what it measures at start, and what it picks"
write_db "$work/objects.data" 1
"$server" "$work/objects.data" --port 0 --address 127.0.0.1 --dewarp auto >"$work/server.log" 2>&1 &
pid=$!
for _ in $(seq 300); do grep -q 'listening on' "$work/server.log" && break; sleep 0.1; done
kill $pid; wait $pid 2>/dev/null || true
grep -E 'Measured|Dewarping on' "$work/server.log" || true
echo "== 4. a new client beside 0 .. 20 watched views of the 1080p30 stream at 640x360@15 (CPU path)"
write_db "$work/objects.data" 21
"$server" "$work/objects.data" --port 0 --address 127.0.0.1 --dewarp cpu --width 640 --height 360 \
    >"$work/server.log" 2>&1 &
pid=$!
for _ in $(seq 100); do grep -q 'listening on' "$work/server.log" && break; sleep 0.1; done
port=$(grep -o 'listening on 127.0.0.1:[0-9]*' "$work/server.log" | cut -d: -f2)
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/ostrevan/bench_ostrevan_join" $pid "$port" 20
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
kill $pid; wait $pid 2>/dev/null || true

echo "== load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

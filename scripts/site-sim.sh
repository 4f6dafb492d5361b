#!/usr/bin/env bash
# Runs the site simulator for one site file: the event-server simulator, the
# gateway HTTP simulator (GET /streams) and the fisheye video publisher (ZeroMQ).
# All three read the same site file. When any of them ends, or when this script is
# interrupted or terminated, the others are stopped too.
#
#   scripts/site-sim.sh [--es-port PORT] [--video-gateway SERIAL] [SITE.json]
#
# The event server listens on 127.0.0.1, port 17000 unless --es-port says
# otherwise; the gateways and the video streams use the ports of the site file.
# --video-gateway publishes video for that gateway's streams only (the others
# are announced by their gateway but stay silent).
# The default site is platform/simulators/sites/demo.json. QUILLON_BUILD_DIR names the build
# folder (default build/).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLON_BUILD_DIR:-$root/build}
case "$build" in /*) ;; *) build=$root/$build ;; esac
es_port=17000
video_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --es-port) es_port=${2:?--es-port needs a port}; shift 2 ;;
    --video-gateway) video_args=(--gateway "${2:?--video-gateway needs a gateway serial}"); shift 2 ;;
    -*) echo "site-sim: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
site=${1:-$root/platform/simulators/sites/demo.json}

es_sim=$build/platform/simulators/es/quillon-es-sim
gateway_sim=$build/platform/simulators/gateway/quillon-gateway-sim
fisheye_pub=$build/platform/simulators/fisheye/quillon-fisheye-pub
programs=("$es_sim" "$gateway_sim" "$fisheye_pub")

if [ ! -r "$site" ]; then
  echo "site-sim: cannot read site file $site" >&2
  exit 2
fi
for p in "${programs[@]}"; do
  if [ ! -x "$p" ]; then
    echo "site-sim: $p is missing; build it first (cmake --build $build)" >&2
    exit 2
  fi
done

pids=()
stop_all() {
  trap - EXIT INT TERM
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  # Bounded: whatever has not ended after 5 s is killed.
  for _ in $(seq 50); do
    alive=0
    for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ $alive -eq 0 ] && break
    sleep 0.1
  done
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
  wait 2>/dev/null
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$es_sim" --site "$site" --listen 127.0.0.1 --port "$es_port" &
pids+=($!)
"$gateway_sim" "$site" &
pids+=($!)
"$fisheye_pub" --site "$site" "${video_args[@]}" &
pids+=($!)
echo "site-sim: event server on 127.0.0.1:$es_port, gateways and video of $site" >&2

wait -n
status=$?
echo "site-sim: a simulator program ended (status $status); stopping the others" >&2
exit $status

#!/usr/bin/env bash
# Runs the site simulator for one site file: the event-server simulator, the
# gateway HTTP simulator (GET /streams) and the fisheye video publisher (ZeroMQ).
# All three read the same site file. When any of them ends, or when this script is
# interrupted or terminated, the others are stopped too.
#
#   scripts/site-sim.sh [SITE.json]        default: platform/sites/demo.json
#
# QUILLON_BUILD_DIR names the build folder (default build/).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLON_BUILD_DIR:-$root/build}
case "$build" in /*) ;; *) build=$root/$build ;; esac
site=${1:-$root/platform/sites/demo.json}

programs=(
  "$build/platform/es/quillon-es-sim"
  "$build/platform/gateway/quillon-gateway-sim"
  "$build/platform/fisheye/quillon-fisheye-pub"
)

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

for p in "${programs[@]}"; do
  "$p" "$site" &
  pids+=($!)
done
echo "site-sim: running $(basename -a "${programs[@]}" | tr '\n' ' ')with $site" >&2

wait -n
status=$?
echo "site-sim: a simulator program ended (status $status); stopping the others" >&2
exit $status

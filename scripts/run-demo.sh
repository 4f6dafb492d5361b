#!/usr/bin/env bash
# The built-in demo: installs what is missing, builds Quillon and the site
# simulator, starts the simulator with the demo site, fills the login form in for
# that site (settings.ini in build/demo/, the program's working folder there),
# runs Quillon and stops the simulator when Quillon exits.
#
#   scripts/run-demo.sh [Quillon arguments]
#
# QUILLON_DEMO_SITE names another site file (default platform/simulators/sites/demo.json),
# QUILLON_DEMO_ES_PORT the event server's port (default 17000).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh
build=${QUILLON_BUILD_DIR:-build}
case "$build" in /*) ;; *) build=$root/$build ;; esac
cmake -S . -B "$build" -G Ninja
cmake --build "$build"

site=${QUILLON_DEMO_SITE:-$root/platform/simulators/sites/demo.json}
case "$site" in /*) ;; *) site=$root/$site ;; esac
demo=$build/demo
mkdir -p "$demo"

# The login form of the demo site: the simulated event server and the site's
# first user.
es_host=127.0.0.1
es_port=${QUILLON_DEMO_ES_PORT:-17000}
read -r es_user es_password < <(python3 -c '
import json, sys
user = json.load(open(sys.argv[1]))["users"][0]
print(user["name"], user["password"])' "$site")

# settings.ini may hold a password: private to its owner. The language chosen
# in an earlier run is kept.
umask 077
python3 - "$demo/settings.ini" "$es_host" "$es_port" "$es_user" "$es_password" <<'PY'
import configparser, os, sys
path, host, port, user, password = sys.argv[1:6]
ini = configparser.ConfigParser(interpolation=None)
ini.optionxform = str
ini.read(path)
if not ini.has_section("application"):
    ini.add_section("application")
ini["application"].setdefault("language", "0")
ini["credentials"] = {"host": host, "port": port, "username": user, "password": password, "remember": "true"}
with open(path, "w") as f:
    ini.write(f, space_around_delimiters=False)
os.chmod(path, 0o600)
PY
umask 022

QUILLON_BUILD_DIR=$build bash scripts/site-sim.sh --es-port "$es_port" "$site" &
sim=$!
stop_sim() {
  kill -TERM "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
}
trap stop_sim EXIT

# Wait (at most 10 s) until the event server accepts connections.
for _ in $(seq 100); do
  if (exec 3<>"/dev/tcp/$es_host/$es_port") 2>/dev/null; then break; fi
  if ! kill -0 "$sim" 2>/dev/null; then echo "run-demo: the site simulator did not start" >&2; exit 1; fi
  sleep 0.1
done

cd "$demo"
status=0
"$build/Quillon" "$@" || status=$?
exit $status

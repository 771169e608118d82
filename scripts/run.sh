#!/usr/bin/env bash
# The main job: builds the release tree, starts the platform simulator on the
# classroom agent ports of 127.0.0.1 and runs the client against it, exactly as
# a classroom PC with an agent machine would. The client keeps VLGuard running.
# Everything lives in build/demo/ (user data, log, simulator files); Ctrl+C ends it.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/scripts/setup.sh"
echo "Building the programs (the first build takes a few minutes)..."
VL_TARGETS="VLStudent VLGuard platform-sim VLSysDb" bash "$here/scripts/build.sh" release | tail -n 1
tree="$here/build/install"
demo="$here/build/demo"
mkdir -p "$demo/data/Virelo/Student" "$demo/tmp" "$demo/run" "$demo/sim"
chmod 700 "$demo/run"

export XDG_DATA_HOME="$demo/data" TMPDIR="$demo/tmp" XDG_RUNTIME_DIR="$demo/run"

# Agent mode towards the simulator on this machine only.
cfg="$demo/data/Virelo/Student/config.cfg"
if [ ! -f "$cfg" ]; then
    printf '[AGENT]\nEnable=1\nIP=127.0.0.1\nPort1=9500\nPort2=9501\nPort3=9502\n[REMOTESERVER]\nPort1=9600\nPort2=9601\n' >"$cfg"
fi

pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    pkill -f "^$tree/VLGuard" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

sim="$here/build/tools/platform-sim/platform-sim"
"$sim" --data "$demo/sim" --log "$demo/sim/received.jsonl" &
pids+=($!)

# The client's windows need a display; without one, a virtual screen stands in.
if [ -z "${DISPLAY:-}" ]; then
    Xvfb :77 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    export DISPLAY=:77
fi

echo "Simulator on 127.0.0.1:9500-9502/9600, data in $demo/sim"
echo "Client log: $demo/tmp/VireloLog/vl.log"
"$tree/bin/VLStudent" "$@" &
client=$!
pids+=($client)
wait "$client"

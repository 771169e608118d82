#!/usr/bin/env bash
# The main job: builds the release tree, starts the platform simulator on the
# classroom agent ports of 127.0.0.1 and runs the client in a real window
# against it, exactly as a classroom PC with an agent machine would. The client
# keeps VLGuard running. Everything lives in build/demo/ (install copy, user
# data, log, simulator files); Ctrl+C ends it.
#
#   bash scripts/run.sh                 sign in with 1001, 1002 or 1003 and take the sample paper
#   bash scripts/run.sh -role=3 -id=101,104,106
#                                       a direct start of those questions (no sign-in)
#   bash scripts/run.sh --rehearse      the exam taken by itself, step by step, with screenshots
#   bash scripts/run.sh --rehearse --listen --measure
#                                       ... listening to everything, with the client's CPU on the
#                                       answer sheet and its memory at the end
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
rehearse=0
args=()
drive=()
for a in "$@"; do
    case "$a" in
        --rehearse) rehearse=1 ;;
        --listen) drive+=(--listen) ;;
        --measure) drive+=(--measure) ;;
        *) args+=("$a") ;;
    esac
done

bash "$here/scripts/setup.sh"
echo "Building the programs (the first build takes a few minutes)..."
VL_TARGETS="VLStudent VLGuard platform-sim VLSysDb vl_make_sysdb vl-drive vl-automate vl_res vl_prompts" \
    bash "$here/scripts/build.sh" release | tail -n 1
demo="$here/build/demo"
tree="$demo/install"
mkdir -p "$demo/data/Virelo/Student" "$demo/tmp" "$demo/run" "$demo/sim"
chmod 700 "$demo/run"

# A copy of the install tree whose server table points at the simulator, so a
# direct start (which uses no agent) stays on this machine too.
rm -rf "$tree"
cp -r "$here/build/install" "$tree"
"$here/build/app/client/vl_make_sysdb" "$tree/bin/sys.db" --local http://127.0.0.1:9500 http://127.0.0.1:9502

export XDG_DATA_HOME="$demo/data" TMPDIR="$demo/tmp" XDG_RUNTIME_DIR="$demo/run"

# Agent mode towards the simulator on this machine only.
cfg="$demo/data/Virelo/Student/config.cfg"
if [ ! -f "$cfg" ]; then
    printf '[AGENT]\nEnable=1\nIP=127.0.0.1\nPort1=9500\nPort2=9501\nPort3=9502\n[REMOTESERVER]\nPort1=9600\nPort2=9601\n' >"$cfg"
fi

pids=()
cleanup() {
    # The client first, while its screen is still there: it closes in order, keeping every answer.
    if [ -n "${client:-}" ] && kill "$client" 2>/dev/null; then
        for _ in $(seq 1 100); do kill -0 "$client" 2>/dev/null || break; sleep 0.1; done
    fi
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    pkill -f "^$tree/VLGuard" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

sim="$here/build/tools/platform-sim/platform-sim"
"$sim" --data "$demo/sim" --log "$demo/sim/received.jsonl" &
pids+=($!)

# The client's window needs a display; without one, a virtual screen stands in.
if [ -z "${DISPLAY:-}" ]; then
    Xvfb :77 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    export DISPLAY=:77
    echo "No display here: the client runs on the virtual screen $DISPLAY."
    echo "  Watch it with a VNC viewer (x11vnc -display $DISPLAY), or take a picture:"
    echo "  build/tools/vl-automate/vl-automate --socket $demo/run/auto.sock '{\"cmd\":\"screenshot\",\"path\":\"$demo/shot.png\"}'"
fi
# Without a sound card the prompts and recordings use SDL's silent driver.
if ! ls /dev/snd/pcm* >/dev/null 2>&1 && [ -z "${SDL_AUDIODRIVER:-}" ]; then
    export SDL_AUDIODRIVER=dummy
fi

echo "Simulator on 127.0.0.1:9500-9502/9600, data in $demo/sim; students 1001 张三, 1002 李四, 1003 王小明"
echo "Client log: $demo/tmp/VireloLog/vl.log"
rm -f "$demo/run/auto.sock"
"$tree/bin/VLStudent" -automation="$demo/run/auto.sock" "${args[@]}" &
client=$!
pids+=($client)

if [ "$rehearse" = 1 ]; then
    rm -rf "$demo/screens" && mkdir -p "$demo/screens"
    status=0
    extra=()
    for d in "${drive[@]}"; do
        if [ "$d" = "--measure" ]; then extra+=(--measure-pid "$client"); else extra+=("$d"); fi
    done
    "$here/build/tools/vl-drive/vl-drive" --socket "$demo/run/auto.sock" --screenshots "$demo/screens" \
        "${extra[@]}" || status=$?
    echo "Screenshots: $demo/screens"
    echo "What the platform received as the result:"
    grep -E '"kind":"(result|single_result)"' "$demo/sim/received.jsonl" | tail -n 1 || echo "  (no result received)"
    exit "$status"
fi
wait "$client"

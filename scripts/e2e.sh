#!/usr/bin/env bash
# The whole exam end to end, as a student takes it: the real VLStudent in a real
# window (on a virtual screen of its own when there is no display), the platform
# simulator on free ports of 127.0.0.1 reached through agent mode, and vl-drive
# answering every question it meets through the automation channel. Singing is
# recorded from SDL's disk audio input (a generated voice). Exit status 0 only
# when the platform accepted the result; the last line then reads
# "exam complete: N questions answered, result accepted".
#
#   bash scripts/e2e.sh                        the simulator's sample paper
#   bash scripts/e2e.sh --student 1002 --screenshots /tmp/shots
#   bash scripts/e2e.sh --external             a platform (or agent) already answering on 127.0.0.1:9500-9502/9600
#   bash scripts/e2e.sh --kill-trials 20       crash-and-resume trials; last line "kill trials: K/N lost nothing"
#   bash scripts/e2e.sh --keep 102,104,203     only those items of the sample paper (a short exam)
#   bash scripts/e2e.sh --wander 60 --seed 7   a wandering student: 60 random moves checked against a model
#                                              of the answers; last line "wander: N moves, K checks, 0 lost"
#   bash scripts/e2e.sh --kill-trials 3 --wander 40   kills in the middle of wandering
#
# --screen WxH runs the client on a virtual screen of that size (its own, even where there is a
# display), e.g. --screen 1920x1080: the exam is drawn at the scale that fills it; --xft-dpi N
# gives that screen the desktop setting Xft.dpi (144 for 150 %), which scales the sign-in window.
# Other options: --build release|asan (default release, in build/ or build-asan/),
# --no-build (the programs are built already), --seed N (repeats the kill trials'
# random choices), --listen (the driver waits for all the listening material
# instead of starting to answer early), --measure (the client's CPU while idle on
# the answer sheet and its memory at the end).
# Everything lives in <build>/e2e/ (kill trials: <build>/e2e-kill/): the client's
# data and log, the simulator's record (sim/received.jsonl), the client's output (client.out).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

external=0 student=1001 screenshots="" screen="" xftdpi="" trials=0 wander=0 keep="" kind=release seed="" listen=0 measure=0 build_first=1
while [ $# -gt 0 ]; do
    case "$1" in
        --external) external=1 ;;
        --student) student="$2"; shift ;;
        --screenshots) screenshots="$(mkdir -p "$2" && cd "$2" && pwd)"; shift ;;
        --kill-trials) trials="$2"; shift ;;
        --wander) wander="$2"; shift ;;
        --keep) keep="$2"; shift ;;
        --build) kind="$2"; shift ;;
        --seed) seed="$2"; shift ;;
        --listen) listen=1 ;;
        --measure) measure=1 ;;
        --no-build) build_first=0 ;;
        --screen) screen="$2"; shift ;;
        --xft-dpi) xftdpi="$2"; shift ;;
        -h|--help) sed -n '2,33p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "e2e.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
    shift
done
if [ -n "$xftdpi" ] && { [ -z "$screen" ] || ! [[ "$xftdpi" =~ ^[1-9][0-9]{1,3}$ ]]; }; then
    echo "e2e.sh: --xft-dpi takes a number of dots per inch and goes with --screen" >&2; exit 2
fi
if [ -n "$screen" ] && ! [[ "$screen" =~ ^[1-9][0-9]{2,4}x[1-9][0-9]{2,4}$ ]]; then
    echo "e2e.sh: --screen takes WIDTHxHEIGHT, e.g. 1920x1080" >&2; exit 2
fi
case "$kind" in
    release) build="$here/build" ;;
    asan) build="$here/build-asan" ;;
    *) echo "e2e.sh: --build takes release or asan" >&2; exit 2 ;;
esac

if [ "$build_first" = 1 ]; then
    bash "$here/scripts/setup.sh" >&2
    echo "Building the programs ($kind)..." >&2
    VL_TARGETS="VLStudent VLGuard platform-sim VLSysDb vl_make_sysdb vl-drive vl_res vl_prompts" \
        bash "$here/scripts/build.sh" "$kind" >&2
fi

# An exam and a series of kill trials may run side by side: each has a folder of its own,
# which a second run of the same kind must not pull away from under the first (the lock is
# this script's alone: the programs it starts do not inherit it).
work="$build/e2e"
[ "$wander" -gt 0 ] && work="$build/e2e-wander"
[ "$trials" -gt 0 ] && work="$build/e2e-kill"
exec 8> "$work.lock"
if ! flock -n 8; then
    echo "e2e.sh: another run uses $work; wait for it to end" >&2
    exit 2
fi
tree="$work/install"
rm -rf "$work"
mkdir -p "$work/data/Virelo/Student" "$work/tmp" "$work/run" "$work/sim" "$work/home"
chmod 700 "$work/run"
cp -r "$build/install" "$tree"
sock="$work/run/auto.sock"

pids=()
cleanup() {
    # The client first, while its screen is still there: it closes in order, keeping every answer.
    if [ -n "${client:-}" ] && kill "$client" 2>/dev/null; then
        for _ in $(seq 1 100); do kill -0 "$client" 2>/dev/null || break; sleep 0.1; done
    fi
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    # The guard the client started from this tree outlives it: end exactly that one.
    for exe in /proc/[0-9]*/exe; do
        if [ "$(readlink "$exe" 2>/dev/null)" = "$tree/VLGuard" ]; then
            pid="${exe#/proc/}"; kill "${pid%/exe}" 2>/dev/null || true
        fi
    done
    wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- the platform ----
if [ "$external" = 1 ]; then
    api=9500 download=9501 upload=9502 remote=9600
    if ! curl -s -o /dev/null --max-time 5 "http://127.0.0.1:$api/request?"; then
        echo "e2e.sh: nothing answers on 127.0.0.1:$api (--external needs a platform or agent there)" >&2
        exit 1
    fi
    records=""
else
    # Free ports, so a demo or another run on this machine is never in the way.
    "$build/tools/platform-sim/platform-sim" --data "$work/sim" --files "$build/sim-files" \
        --api-port 0 --download-port 0 --upload-port 0 --remote-port 0 \
        --log "$work/sim/received.jsonl" > "$work/sim.out" 2>&1 8>&- &
    pids+=($!)
    for _ in $(seq 1 600); do grep -q listening "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
    port() { sed -n "s/.* $1 \([0-9]*\)[,;].*/\1/p" "$work/sim.out"; }
    api="$(port api)" download="$(port download)" upload="$(port upload)" remote="$(port remote)"
    if [ -z "$api" ] || [ -z "$remote" ]; then
        echo "e2e.sh: the simulator did not start:" >&2; cat "$work/sim.out" >&2; exit 1
    fi
    records="http://127.0.0.1:$api"
    if [ -n "$keep" ]; then
        curl -sf "http://127.0.0.1:$api/__sim/paper?keep=$keep" | grep -q '"code":0' ||
            { echo "e2e.sh: none of $keep is in the sample paper" >&2; exit 2; }
    fi
    # A direct start uses no agent: its server table points at the simulator too.
    "$build/app/client/vl_make_sysdb" "$tree/bin/sys.db" --local "http://127.0.0.1:$api" "http://127.0.0.1:$upload"
fi
# The classroom's agent is this machine, as on a PC whose agent relays to the platform.
printf '[AGENT]\nEnable=1\nIP=127.0.0.1\nPort1=%s\nPort2=%s\nPort3=%s\n[REMOTESERVER]\nPort1=%s\nPort2=9601\n' \
    "$api" "$download" "$upload" "$remote" > "$work/data/Virelo/Student/config.cfg"

# ---- the screen and the sound ----
if [ -z "${DISPLAY:-}" ] || [ -n "$screen" ]; then
    # -noreset: the screen keeps its settings (Xft.dpi) when a short-lived client leaves.
    Xvfb -displayfd 9 -noreset -screen 0 "${screen:-1280x800}x24" -nolisten tcp 9> "$work/display" 2>/dev/null 8>&- &
    pids+=($!)
    for _ in $(seq 1 200); do [ -s "$work/display" ] && break; sleep 0.05; done
    export DISPLAY=":$(head -n 1 "$work/display")"
    if [ -n "$xftdpi" ]; then
        # What a desktop scaled to xftdpi/96 puts into the X server's resource database.
        printf 'Xft.dpi: %s\n' "$xftdpi" | xrdb -merge -nocpp
    fi
    echo "The client runs on the virtual screen $DISPLAY, ${screen:-1280x800} (x11vnc -display $DISPLAY to watch)." >&2
fi
# The student's voice: a minute of a rising, wavering tone, 16 kHz mono, which
# SDL's disk driver hands to every recording; what the client plays goes nowhere.
sox -q -n -r 16000 -c 1 -b 16 -e signed-integer -t raw "$work/voice.raw" synth 60 sine 220-660 tremolo 5 40 vol 0.5
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null SDL_DISKAUDIOFILEIN="$work/voice.raw"
export XDG_DATA_HOME="$work/data" TMPDIR="$work/tmp" XDG_RUNTIME_DIR="$work/run" HOME="$work/home"
# The guard's control server on a free port: the fixed one may belong to a real guard here.
export VL_GUARD_PORT=0
echo "Simulator: 127.0.0.1 ports $api (requests) $download (downloads) $upload (uploads) $remote (paper, results)." >&2
echo "Client log: $work/tmp/VireloLog/vl.log; client output: $work/client.out" >&2

drive="$build/tools/vl-drive/vl-drive"
if [ "$trials" -gt 0 ]; then
    args=(--kill-trials "$trials" --client "$tree/bin/VLStudent" --socket "$sock" --student "$student"
          --answer-dir "$work/data/Virelo/Student/AnswerData" --client-output "$work/client.out")
    [ -n "$records" ] && args+=(--records "$records")
    [ -n "$seed" ] && args+=(--seed "$seed")
    [ "$wander" -gt 0 ] && args+=(--wander "$wander")
    status=0
    "$drive" "${args[@]}" 8>&- || status=$?
    exit "$status"
fi

"$tree/bin/VLStudent" -automation="$sock" > "$work/client.out" 2>&1 8>&- &
client=$!
pids+=($client)
args=(--socket "$sock" --student "$student")
if [ "$wander" -gt 0 ]; then
    args+=(--wander "$wander" --answer-dir "$work/data/Virelo/Student/AnswerData")
    [ -n "$records" ] && args+=(--records "$records")
    [ -n "$seed" ] && args+=(--seed "$seed")
fi
[ -n "$screenshots" ] && args+=(--screenshots "$screenshots")
[ "$listen" = 1 ] && args+=(--listen)
[ "$measure" = 1 ] && args+=(--measure-pid "$client")
status=0
"$drive" "${args[@]}" || status=$?
exit "$status"

#!/usr/bin/env bash
# The exam client as a student's PC runs it, measured against the simulator:
#   1. start of VLStudent to its first painted frame (the sign-in screen), median of 7 (goal < 300 ms);
#   2. CPU of the client with a question on screen and nothing playing, over 10 s (goal < 2 % of one core);
#   3. resident memory with a paper of 1000 questions loaded (goal < 150 MB).
# The question switch is measured by the Google Benchmark program wnd_switch_bench.
#
#   bench/wnd/client_bench.sh [build dir]     (default: build-bench, Release)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${1:-$root/build-bench}"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVL_BUILD_BENCH=ON -DVL_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target VLStudent platform-sim vl_make_sysdb vl-automate vl_res VLSysDb -j2 >/dev/null

work="$(mktemp -d "${TMPDIR:-/tmp}/vl-client-bench.XXXXXX")"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/run" "$work/sim" && chmod 700 "$work/run"
cp -r "$build/install" "$work/install"
# The guard is not what is measured: a program that does nothing stands in for it.
printf '#!/bin/sh\nexec sleep 3600\n' > "$work/install/VLGuard" && chmod +x "$work/install/VLGuard"

"$build/tools/platform-sim/platform-sim" --data "$work/sim" --files "$build/tests/sim-files-bench" \
    --api-port 0 --download-port 0 --upload-port 0 --remote-port 0 > "$work/sim.out" &
pids+=($!)
for _ in $(seq 1 400); do grep -q listening "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
api="$(sed -n 's/.* api \([0-9]*\),.*/\1/p' "$work/sim.out")"
upload="$(sed -n 's/.* upload \([0-9]*\),.*/\1/p' "$work/sim.out")"
"$build/app/client/vl_make_sysdb" "$work/install/bin/sys.db" --local "http://127.0.0.1:$api" "http://127.0.0.1:$upload"

if [ -z "${DISPLAY:-}" ]; then
    Xvfb :78 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    export DISPLAY=:78
    sleep 1
fi
export SDL_AUDIODRIVER=dummy TMPDIR="$work/tmp" XDG_RUNTIME_DIR="$work/run" HOME="$work/home"
automate="$build/tools/vl-automate/vl-automate"

run_client() {  # data folder, arguments...
    local data="$1"; shift
    XDG_DATA_HOME="$work/$data" "$work/install/bin/VLStudent" "$@" > "$work/client.out" 2>&1 &
    client=$!
}
stop_client() {
    kill "$client" 2>/dev/null || true
    wait "$client" 2>/dev/null || true
}
field() {  # the value of a top-level number in a state answer
    sed -n "s/.*\"$1\":\([-0-9]*\).*/\1/p"
}

# ---- 1. start to first frame ----
times=()
for i in $(seq 1 7); do
    mkdir -p "$work/tmp"
    : > "$work/tmp/VireloLog/vl.log" 2>/dev/null || true
    run_client "data-start" -automation="$work/run/auto.sock"
    for _ in $(seq 1 200); do grep -q "first frame painted" "$work/tmp/VireloLog/vl.log" 2>/dev/null && break; sleep 0.05; done
    ms="$(sed -n 's/.*first frame painted \([0-9]*\) ms.*/\1/p' "$work/tmp/VireloLog/vl.log" | tail -n 1)"
    stop_client
    times+=("${ms:-99999}")
    rm -rf "$work/tmp/VireloLog"
done
start_median="$(printf '%s\n' "${times[@]}" | sort -n | sed -n 4p)"
echo "start to first frame: runs ${times[*]} ms; median $start_median ms (goal < 300)"

# ---- 2. CPU with a question on screen, nothing playing ----
# 103 has sound options: no time-out runs while the student listens and chooses.
run_client "data-idle" -role=3 -id=103 -automation="$work/run/auto.sock"
for _ in $(seq 1 1200); do
    phase="$("$automate" --socket "$work/run/auto.sock" state 2>/dev/null | field phase || true)"
    [ "$phase" = "7" ] && break
    sleep 0.1
done
sleep 2
ticks="$(getconf CLK_TCK)"
cpu_before="$(awk '{print $14 + $15}' "/proc/$client/stat")"
sleep 10
cpu_after="$(awk '{print $14 + $15}' "/proc/$client/stat")"
stop_client
idle="$(awk -v a="$cpu_before" -v b="$cpu_after" -v t="$ticks" 'BEGIN { printf "%.2f", (b - a) / t / 10 * 100 }')"
echo "CPU with a question on screen and nothing playing: $idle % of one core over 10 s (goal < 2)"

# ---- 3. memory with a 1000-question paper ----
{
    printf '{"1":[{"conf":{"question_type":"1","number":"1000","score":"1","total":"1000","desc":"","is_new":1},"question":['
    for i in $(seq 1 1000); do
        [ "$i" -gt 1 ] && printf ','
        printf '{"id":"q%d","content":"第%d题：下面哪一种乐器属于弦乐器？请仔细想一想再选择。","answer":{"options":[{"text":"小提琴"},{"text":"长笛"},{"text":"小号"},{"text":"大鼓"}]}}' "$i" "$i"
    done
    printf ']}]}'
} > "$work/paper.json"
curl -s --data-binary @"$work/paper.json" "http://127.0.0.1:$api/__sim/paper" > /dev/null
ids="$(seq -f 'q%g' 1 1000 | paste -sd, -)"
run_client "data-big" -role=3 "-id=$ids" -automation="$work/run/auto.sock"
for _ in $(seq 1 1200); do
    count="$("$automate" --socket "$work/run/auto.sock" state 2>/dev/null | field count || true)"
    page="$("$automate" --socket "$work/run/auto.sock" state 2>/dev/null | field page || true)"
    [ "$count" = "1000" ] && [ "$page" = "5" ] && break
    sleep 0.1
done
sleep 2
rss="$(awk '/VmRSS/ {print $2}' "/proc/$client/status")"
stop_client
echo "resident memory with 1000 questions loaded: $((rss / 1024)) MB (goal < 150); questions loaded: ${count:-?}"

#!/usr/bin/env bash
# A whole classroom at once on one agent: the platform simulator plays the
# teacher's agent for N students, N real VLStudent programs start headless in
# the same moment (the toolkit's headless back end, SDL's dummy audio), each
# signs in as a different student and takes a short paper through its
# automation channel with vl-drive (a wandering student, whose model of the
# answers given is checked against the result the agent received). The
# simulator counts every request, connection and byte per student.
# The last line reads:
#   classroom: N clients, all finished, 0 answers lost, first question after p50 X s / max Y s,
#   agent served Z MB over C connections, R requests/s peak
#
#   bench/net/classroom_bench.sh [N]              N students (default 40)
#   bench/net/classroom_bench.sh 10 --slow-ms 2000
#                               every request on every agent port answered only after 2 s
# Options: --keep IDS (only those items of the sample paper, e.g. 102,104,203: a choice, a
# singing and a judgement question; default "all", the whole sample paper), --moves M (wandering
# moves of each student, default 6), --build DIR (default build/, a release build made by this
# script unless --no-build), --install DIR (the client's install tree to run, default
# DIR/install: a tree of another build compares clients).
# Everything lives in DIR/classroom/: stats.json (the simulator's sums), s<number>/ per student
# (drive.out, client.out, the client's data and log).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

n=40 keep=all moves=6 slow=0 build="$here/build" install="" build_first=1
if [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then n="$1"; shift; fi
while [ $# -gt 0 ]; do
    case "$1" in
        --keep) keep="$2"; shift ;;
        --moves) moves="$2"; shift ;;
        --slow-ms) slow="$2"; shift ;;
        --build) build="$(cd "$2" && pwd)"; shift ;;
        --install) install="$(cd "$2" && pwd)"; shift ;;
        --no-build) build_first=0 ;;
        -h|--help) sed -n '2,23p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "classroom_bench.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
    shift
done
if ! [[ "$n" =~ ^[1-9][0-9]*$ ]] || [ "$n" -gt 500 ]; then
    echo "classroom_bench.sh: N is a number of students from 1 to 500" >&2; exit 2
fi
[[ "$slow" =~ ^[0-9]+$ ]] || { echo "classroom_bench.sh: --slow-ms takes milliseconds" >&2; exit 2; }

if [ "$build_first" = 1 ]; then
    echo "Building the programs (release)..." >&2
    VL_TARGETS="VLStudent VLGuard platform-sim VLSysDb vl_make_sysdb vl-drive vl_res vl_prompts" \
        nice bash "$here/scripts/build.sh" release >&2
fi
install="${install:-$build/install}"
[ -x "$install/bin/VLStudent" ] || { echo "classroom_bench.sh: no client in $install" >&2; exit 1; }

work="$build/classroom"
exec 8> "$work.lock"
flock -n 8 || { echo "classroom_bench.sh: another run uses $work; wait for it to end" >&2; exit 2; }
rm -rf "$work"
mkdir -p "$work/sim"
tree="$work/install"
cp -r "$install" "$tree"

pids=() clients=()
cleanup() {
    for c in "${clients[@]}"; do kill "$c" 2>/dev/null || true; done
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    # The guards the clients started from this tree outlive them: end exactly those.
    for exe in /proc/[0-9]*/exe; do
        if [ "$(readlink "$exe" 2>/dev/null)" = "$tree/VLGuard" ]; then
            pid="${exe#/proc/}"; kill "${pid%/exe}" 2>/dev/null || true
        fi
    done
    wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- the agent ----
"$build/tools/platform-sim/platform-sim" --data "$work/sim" --files "$build/sim-files" --students "$n" \
    --api-port 0 --download-port 0 --upload-port 0 --remote-port 0 > "$work/sim.out" 2>&1 8>&- &
pids+=($!)
for _ in $(seq 1 600); do grep -q listening "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
port() { sed -n "s/.* $1 \([0-9]*\)[,;].*/\1/p" "$work/sim.out"; }
api="$(port api)" download="$(port download)" upload="$(port upload)" remote="$(port remote)"
[ -n "$api" ] && [ -n "$remote" ] || { echo "the simulator did not start:" >&2; cat "$work/sim.out" >&2; exit 1; }
control="http://127.0.0.1:$api/__sim"
if [ "$keep" != all ]; then
    curl -sf "$control/paper?keep=$keep" | grep -q '"code":0' || { echo "none of $keep is in the sample paper" >&2; exit 2; }
fi
"$build/app/client/vl_make_sysdb" "$tree/bin/sys.db" --local "http://127.0.0.1:$api" "http://127.0.0.1:$upload"
if [ "$slow" -gt 0 ]; then
    for p in api download upload remote; do
        curl -sf "$control/fault?port=$p&delay=$slow" | grep -q '"code":0'
    done
fi

# ---- the classroom: every PC prepared first, then all started in one moment ----
numbers=()
for i in $(seq 1 "$n"); do
    s=$((1000 + i)); numbers+=("$s"); d="$work/s$s"
    mkdir -p "$d/data/Virelo/Student" "$d/tmp" "$d/run" "$d/home"
    chmod 700 "$d/run"
    printf '[AGENT]\nEnable=1\nIP=127.0.0.1\nPort1=%s\nPort2=%s\nPort3=%s\n[REMOTESERVER]\nPort1=%s\nPort2=9601\n' \
        "$api" "$download" "$upload" "$remote" > "$d/data/Virelo/Student/config.cfg"
done
echo "Starting $n clients at once (agent on 127.0.0.1:$api, $download, $upload, $remote; slow ${slow} ms)..." >&2
drivers=()
started=$(date +%s.%N)
for s in "${numbers[@]}"; do
    d="$work/s$s"
    env XDG_DATA_HOME="$d/data" TMPDIR="$d/tmp" XDG_RUNTIME_DIR="$d/run" HOME="$d/home" \
        VL_UI_HEADLESS=1 SDL_AUDIODRIVER=dummy VL_GUARD_PORT=0 \
        "$tree/bin/VLStudent" -automation="$d/run/auto.sock" > "$d/client.out" 2>&1 8>&- &
    clients+=($!)
    "$build/tools/vl-drive/vl-drive" --wander "$moves" --seed "$s" --socket "$d/run/auto.sock" --student "$s" \
        --records "http://127.0.0.1:$api" --answer-dir "$d/data/Virelo/Student/AnswerData" --timeout 1500 \
        > "$d/drive.out" 2>&1 8>&- &
    drivers+=($!)
done
finished=0
for i in "${!drivers[@]}"; do
    if wait "${drivers[$i]}"; then finished=$((finished + 1)); else echo "student ${numbers[$i]} did not finish: $(tail -n 1 "$work/s${numbers[$i]}/drive.out")" >&2; fi
done
ended=$(date +%s.%N)
# What the machine spent: the clients (still open on their finished page) and the agent.
cpu() { awk '{ sub(/^.*\) /, ""); split($0, f, " "); print (f[12] + f[13]) }' "/proc/$1/stat" 2>/dev/null || echo 0; }
tick=$(getconf CLK_TCK)
client_cpu=0
for c in "${clients[@]}"; do client_cpu=$((client_cpu + $(cpu "$c"))); done
agent_cpu=$(cpu "${pids[0]}")
curl -sf "$control/stats?format=text" > "$work/stats.txt"
curl -sf "$control/stats" > "$work/stats.json"

# ---- the figures ----
spread() {  # numbers on stdin -> "min A / median B / max C"
    sort -g | awk '{ v[NR] = $1 } END { if (!NR) { print "-"; exit }
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "min %g / median %g / max %g\n", v[1], m, v[NR] }'
}
# One value of every student's line ("student:N requests R connections C ..."), 0 for a student without one.
column() {
    local s
    for s in "${numbers[@]}"; do
        awk -v who="student:$s" -v key="$1" '$1 == who { for (i = 2; i < NF; i += 2) if ($i == key) v = $(i + 1) }
            END { print v + 0 }' "$work/stats.txt"
    done
}
kind_column() {
    local s
    for s in "${numbers[@]}"; do
        awk -v who="student:$s" -v kind="$1" '$1 == who { n = split($NF, kv, ","); for (i = 1; i <= n; ++i) {
            split(kv[i], p, "="); if (p[1] == kind) v = p[2] } } END { print v + 0 }' "$work/stats.txt"
    done
}
echo "per client (over $n):"
printf '  %-26s %s\n' "connections" "$(column connections | spread)"
printf '  %-26s %s\n' "requests" "$(column requests | spread)"
for kind in $(awk '$1 ~ /^student:/ { n = split($NF, kv, ","); for (i = 1; i <= n; ++i) { split(kv[i], p, "="); print p[1] } }' \
        "$work/stats.txt" | sort -u); do
    printf '  %-26s %s\n' "$kind" "$(kind_column "$kind" | spread)"
done
printf '  %-26s %s\n' "files fetched" "$(column files | spread)"
printf '  %-26s %s\n' "most transfers of a file" "$(column most | spread)"
printf '  %-26s %s\n' "MB served" "$(column bytes | awk '{ printf "%.2f\n", $1 / 1e6 }' | spread)"
awk '$1 == "unattributed" { print "requests no student could be told for: " $3 " over " $5 " connections (" $NF ")" }' \
    "$work/stats.txt"
if [ "$slow" -gt 0 ]; then
    # A file is tried at most 3 times; the request manager repeats no API request (only the
    # window's own timers and the student's buttons send one again).
    echo "slow agent ($slow ms a request): most transfers of one file by one client: $(column most | sort -g | tail -n 1) (the rule allows 3)"
fi

awk -v w="$(awk "BEGIN { print $ended - $started }")" -v c="$client_cpu" -v a="$agent_cpu" -v t="$tick" -v cores="$(nproc)" \
    'BEGIN { printf "machine: %d cores; %.0f s from the start to the last hand-in; clients %.0f CPU s (%.2f cores on average), agent %.1f CPU s\n", cores, w, c / t, c / t / w, a / t }'

lost=0 missing=0
firsts=""
for s in "${numbers[@]}"; do
    out="$work/s$s/drive.out"
    f="$(sed -n 's/.*first question after \([0-9.]*\) s.*/\1/p' "$out" | head -n 1)"
    [ -n "$f" ] && firsts="$firsts$f"$'\n'
    r="$(sed -n 's/.*result received: [0-9]* answers checked, \([0-9]*\) differ.*/\1/p' "$out" | tail -n 1)"
    if [ -z "$r" ]; then
        missing=$((missing + 1)); echo "student $s: no result checked" >&2
    else
        lost=$((lost + r))
    fi
done
p50="$(printf '%s' "$firsts" | sort -g | awk '{ v[NR] = $1 } END { if (NR) printf "%.1f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; else print "-" }')"
max="$(printf '%s' "$firsts" | sort -g | awk 'END { if (NR) printf "%.1f", $1; else print "-" }')"
read -r mb conns peak < <(awk '$1 == "total" { for (i = 2; i < NF; i += 2) v[$i] = $(i + 1)
    printf "%.1f %d %d\n", v["bytes"] / 1e6, v["connections"], v["peak"] }' "$work/stats.txt")
state="all finished"
[ "$finished" -eq "$n" ] && [ "$missing" -eq 0 ] || state="$finished of $n finished"
# A student whose result never came counts as one answer lost at least.
echo "classroom: $n clients, $state, $((lost + missing)) answers lost, first question after p50 $p50 s / max $max s, agent served $mb MB over $conns connections, $peak requests/s peak"
[ "$finished" -eq "$n" ] && [ "$missing" -eq 0 ] && [ "$lost" -eq 0 ]

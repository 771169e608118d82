#!/usr/bin/env bash
# Download throughput of VLDownloadManager against the curl command, measured in
# the same run on the same simulator over loopback: one 200 MB file and 300 files
# of 50 KB. Prints each throughput and the median over seven runs of the ratio
# manager throughput / curl throughput (goals: >= 1.0 on the small files, >= 1.1 on
# the large one).
#
#   bench/net/download_bench.sh [build dir]     (default: build-bench, Release)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${1:-$root/build-bench}"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVL_BUILD_BENCH=ON -DVL_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target platform-sim net_download_bench -j2 >/dev/null

work="$(mktemp -d "${TMPDIR:-/tmp}/vl-download-bench.XXXXXX")"
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/files" "$work/out"
echo "Generating the files in $work ..."
head -c $((200 * 1024 * 1024)) /dev/urandom > "$work/files/big.bin"
for i in $(seq 1 300); do head -c $((50 * 1024)) /dev/urandom > "$work/files/small_$i.bin"; done

"$build/tools/platform-sim/platform-sim" --data "$work/sim" --files "$work/files" \
    --api-port 0 --download-port 0 --upload-port 0 --remote-port 0 > "$work/sim.out" &
sim_pid=$!
for _ in $(seq 1 200); do grep -q listening "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
port="$(sed -n 's/.*download \([0-9]*\),.*/\1/p' "$work/sim.out")"
[ -n "$port" ] || { echo "simulator did not start"; cat "$work/sim.out"; exit 1; }
base="http://127.0.0.1:$port/files"

echo "$base/big.bin" > "$work/big.list"
: > "$work/small.list"; : > "$work/small.curl"
for i in $(seq 1 300); do
    echo "$base/small_$i.bin" >> "$work/small.list"
    printf 'url = "%s/small_%d.bin"\noutput = "%s/out/curl_small_%d.bin"\n' "$base" "$i" "$work" "$i" >> "$work/small.curl"
done

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
# curl: one process for all files, so it keeps its connection between them.
curl_time() {
    local t0 t1
    t0=$(now); "$@"; t1=$(now)
    calc "$t1 - $t0"
}
manager_time() {
    rm -rf "$work/out/m"; mkdir -p "$work/out/m"
    "$build/bench/net/net_download_bench" "$1" "$work/out/m" | awk '{print $1}'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

run() {  # name, bytes, manager list, curl args...
    local name=$1 bytes=$2 list=$3; shift 3
    local tm tc ms="" cs="" rs=""
    # Pairs run back to back and alternate, so that both see the same machine
    # load; the median over the pairs keeps a burst of other work from deciding.
    for _ in 1 2 3 4 5 6 7; do
        tm=$(manager_time "$list")
        rm -f "$work"/out/curl_*
        tc=$(curl_time "$@")
        ms="$ms$tm\n"; cs="$cs$tc\n"; rs="$rs$(calc "$tc / $tm")\n"
    done
    local mm mc ratio
    mm=$(printf "$ms" | median); mc=$(printf "$cs" | median); ratio=$(printf "$rs" | median)
    printf '%-12s manager %7.1f MB/s (median %.3f s)   curl %7.1f MB/s (median %.3f s)   ratio %.2f\n' \
        "$name" "$(calc "$bytes / 1048576 / $mm")" "$mm" "$(calc "$bytes / 1048576 / $mc")" "$mc" "$ratio"
}

run "200 MB file" $((200 * 1024 * 1024)) "$work/big.list" curl -s -o "$work/out/curl_big.bin" "$base/big.bin"
cmp -s "$work/files/big.bin" "$work/out/m/big.bin" || { echo "the manager's copy of the 200 MB file differs"; exit 1; }
run "300 x 50 KB" $((300 * 50 * 1024)) "$work/small.list" curl -s -K "$work/small.curl"
for i in 1 150 300; do
    cmp -s "$work/files/small_$i.bin" "$work/out/m/small_$i.bin" || { echo "small_$i.bin differs"; exit 1; }
done

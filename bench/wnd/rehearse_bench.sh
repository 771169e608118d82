#!/usr/bin/env bash
# The classroom rehearsal measured (release build, real window, the simulator's
# sample paper, the driver listening to everything as a patient student would):
#   1. the whole exam's wall time, from the driver's start to the accepted
#      result, against the sum of the prompt and music lengths the client
#      played and the one second the exam flow waits after each of them;
#   2. the client's CPU while idle on the answer sheet, over 10 s;
#   3. the client's resident memory at the end of the exam.
#
#   bash bench/wnd/rehearse_bench.sh
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
log="$root/build/demo/tmp/VireloLog/vl.log"
out="$(mktemp "${TMPDIR:-/tmp}/vl-rehearse.XXXXXX")"
trap 'rm -f "$out"' EXIT
lines_before=0
[ -f "$log" ] && lines_before="$(wc -l < "$log")"

bash "$root/scripts/run.sh" --rehearse --listen --measure | tee "$out"

exam="$(sed -n 's/^\[ *\([0-9.]*\)s\] result accepted$/\1/p' "$out" | tail -n 1)"
# What this run's client played: "playing <file> (<ms> ms)", one line per prompt or piece of music.
read -r plays audio_ms < <(tail -n "+$((lines_before + 1))" "$log" |
    sed -n 's/.*playing .* (\([0-9]*\) ms).*/\1/p' | awk '{ n++; s += $1 } END { print n + 0, s + 0 }')
echo
echo "exam wall time (driver start to accepted result): ${exam:-?} s"
awk -v e="${exam:-0}" -v a="$audio_ms" -v n="$plays" 'BEGIN {
    printf "prompts and music played: %d files, %.1f s; the flow pauses about 1 s after each: %.1f s\n", n, a / 1000, n
    printf "left for the client, the driver and the platform: %.1f s (%.1f %% of the exam)\n", e - a / 1000 - n, (e - a / 1000 - n) * 100 / (e > 0 ? e : 1)
}'
grep -E "client CPU while idle on the answer sheet|client resident memory at the end" "$out" | sed 's/^\[ *[0-9.]*s\] //'

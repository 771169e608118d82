#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs the whole test suite; beside it, the end-to-end exam with its crash-and-resume trials
# (scripts/e2e.sh) and, at a lower priority, the libFuzzer pass and the threaded test programs
# under ThreadSanitizer. Prints the wall time of every stage, the compiler cache's figures and the
# slowest tests at the end. Exits non-zero when any stage fails.
#   scripts/test.sh [ctest args...]     extra arguments go to ctest
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
logs="$here/build-asan/stages"

stage_names=()
stage_times=()
stage_results=()
status=0

now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.0f", b - a }'; }
record() { # name start exit-code
    stage_names+=("$1")
    stage_times+=("$(seconds_since "$2")")
    if [ "$3" -eq 0 ]; then stage_results+=(ok); else stage_results+=("FAILED ($3)"); status=1; fi
}
# Runs one stage in the foreground, its output shown as it comes.
run_stage() { # name command...
    local name="$1" start rc
    shift
    echo "==== $name"
    start="$(now)"
    "$@"
    rc=$?
    record "$name" "$start" "$rc"
    return "$rc"
}
summary() {
    echo
    echo "==== stage times (wall clock; everything after the build ran side by side)"
    local i
    for i in "${!stage_names[@]}"; do
        printf '  %-34s %6s s  %s\n' "${stage_names[$i]}" "${stage_times[$i]}" "${stage_results[$i]}"
    done
    if [ -s "$logs/parts" ]; then
        echo "  parts of the background stages, in the order they ended:"
        while IFS=$'\t' read -r part secs; do
            printf '    %-32s %6s s\n' "$part" "$secs"
        done <"$logs/parts"
    fi
    printf '  %-34s %6s s\n' "total" "$(seconds_since "$started")"
    if command -v ccache >/dev/null; then
        echo "==== ccache -s (${CCACHE_DIR:-$HOME/.cache/ccache}; shared, so its totals span earlier runs)"
        ccache -s || true
        # This run's share: the counters now less those at its start (builds of others on this machine
        # at the same time count too).
        cache_counters | awk -v before="$cache_before" '
            BEGIN { n = split(before, b, " "); for (i = 1; i < n; i += 2) start[b[i]] = b[i + 1] }
            { d[$1] = $2 - start[$1] }
            END { hits = d["direct_cache_hit"] + d["preprocessed_cache_hit"]
                  printf "  this run: %d compilations from the cache, %d compiled", hits, d["cache_miss"]
                  if (hits + d["cache_miss"] > 0) printf " (%.0f %% hits)", 100 * hits / (hits + d["cache_miss"])
                  printf "\n" }'
    fi
    local junit="$here/build-asan/ctest-junit.xml"
    if [ -f "$junit" ]; then
        echo "==== the 15 slowest tests of this run (from $junit)"
        sed -n 's/.*<testcase name="\([^"]*\)".* time="\([0-9.]*\)".*/\2 \1/p' "$junit" | sort -gr | head -n 15 |
            awk '{ printf "  %8.1f s  %s\n", $1, $2 }'
    fi
}

# The compiler cache scripts/build.sh uses (one folder outside the clone, shared by every clone).
# shellcheck source=scripts/ccache-env.sh
source "$here/scripts/ccache-env.sh"
cache_counters() {
    ccache --print-stats 2>/dev/null | awk '$1 ~ /^(direct_cache_hit|preprocessed_cache_hit|cache_miss)$/ { print $1, $2 }'
}
cache_before=""
if command -v ccache >/dev/null; then cache_before="$(cache_counters | tr '\n' ' ')"; fi

started="$(now)"
run_stage setup bash "$here/scripts/setup.sh" || { summary; exit 1; }
run_stage "asan build" bash "$here/scripts/build.sh" asan || { summary; exit 1; }
mkdir -p "$logs"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# The whole exam as a student takes it, in a real window, on the simulator's sample paper, in real
# time with every spoken prompt. It mostly waits on prompts and music, so it runs from the start of
# ctest, as do, one after another: a few crash-and-resume trials on a short paper (a choice, a
# singing and a judgement question; the full figure is "bash scripts/e2e.sh --kill-trials 20" on
# the sample paper), two wandering students over a short paper with every kind of question, and the
# exam session under a Wayland kiosk compositor. Each test world has its own folders, ports, virtual
# screen and guard, so none of them sees another's processes.
background_stage() { # name log command...
    local name="$1" log="$2"
    shift 2
    (
        start="$(now)"
        "$@" >"$log" 2>&1
        rc=$?
        printf '%s\t%s\t%s\n' "$name" "$(seconds_since "$start")" "$rc" >"$log.result"
        exit "$rc"
    ) &
}
wander_paper=101,104,111,105,107,205,206,207,208
# One part of a stage, its time listed under the stage table.
part() { # name command...
    local name="$1" start=$SECONDS rc
    shift
    "$@"
    rc=$?
    printf '%s\t%s\n' "$name" "$((SECONDS - start))" >>"$VL_STAGE_PARTS"
    return "$rc"
}
trials() {
    part "kill trials" bash "$here/scripts/e2e.sh" --build asan --no-build --keep 102,104,203 --kill-trials 3 &&
        part "wander seed 1" bash "$here/scripts/e2e.sh" --build asan --no-build --keep "$wander_paper" \
            --wander 60 --seed 1 &&
        part "wander seed 2" bash "$here/scripts/e2e.sh" --build asan --no-build --keep "$wander_paper" \
            --wander 60 --seed 2 &&
        part "kiosk session (cage)" bash "$here/scripts/e2e-cage.sh" --build asan --no-build
}
# The CPU-only stages, beside ctest at a lower priority so that ctest and the real-time runs keep
# their pace: the libFuzzer pass of the parsers of outside input, and the ThreadSanitizer build and
# run of the threaded test programs (which mostly wait, as their ctest runs do).
cpu_only() {
    local rc=0
    if [ -f "$here/scripts/fuzz.sh" ]; then
        echo "== fuzz"
        nice -n 10 bash "$here/scripts/fuzz.sh" || rc=1
    fi
    echo "== tsan"
    nice -n 10 bash "$here/scripts/tsan.sh" || rc=1
    return "$rc"
}
rm -f "$logs"/*.result "$logs/parts"
export VL_STAGE_PARTS="$logs/parts"
echo "==== in the background from now on: the end-to-end exam; the kill trials, wanderers and kiosk run; the fuzz and TSan pass (output follows at the end)"
background_stage "e2e exam" "$logs/e2e.out" bash "$here/scripts/e2e.sh" --build asan --no-build
background_stage "e2e kill trials + wanderers + cage" "$logs/e2e-kill.out" trials
background_stage "fuzz + tsan (nice)" "$logs/cpu.out" cpu_only

# CTest starts the real-process tests first (their COST) and fills in with the unit tests; per-test
# times land in the junit file for the list at the end. (One test more than there are cores gained
# nothing beside the other stages: the two cores are busy.)
run_stage ctest bash -c 'cd "$1/build-asan" && shift && ctest --output-on-failure -j"$(nproc)" \
    --output-junit "$PWD/ctest-junit.xml" "$@"' ctest "$here" "$@"

echo "==== waiting for the end-to-end runs and the fuzz and TSan pass"
wait
for log in e2e e2e-kill cpu; do
    echo "==== $log ($logs/$log.out)"
    cat "$logs/$log.out"
    if [ -f "$logs/$log.out.result" ]; then
        IFS=$'\t' read -r name secs rc <"$logs/$log.out.result"
        stage_names+=("$name"); stage_times+=("$secs")
        if [ "$rc" -eq 0 ]; then stage_results+=(ok); else stage_results+=("FAILED ($rc)"); status=1; fi
    else
        stage_names+=("$log"); stage_times+=("?"); stage_results+=("FAILED (no result)"); status=1
    fi
done
summary
exit "$status"

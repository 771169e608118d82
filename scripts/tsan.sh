#!/usr/bin/env bash
# Builds the threaded test programs with ThreadSanitizer in build-tsan and runs each one.
# The programs are listed in tests/tsan-programs.txt; races inside libraries we do not build
# are suppressed through tests/tsan.supp. Exits non-zero when a program fails or reports a race.
#   scripts/tsan.sh              every listed program
#   scripts/tsan.sh NAME...      only these targets
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/ccache-env.sh
source "$here/scripts/ccache-env.sh"
build="$here/build-tsan"

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVL_SANITIZE_THREAD=ON >/dev/null

if [ "$#" -gt 0 ]; then
    wanted=("$@")
else
    mapfile -t wanted < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$here/tests/tsan-programs.txt" | grep -v '^$')
fi
defined="$(ninja -C "$build" -t targets all | sed -n 's/^\([A-Za-z0-9_]*\): phony$/\1/p')"
targets=()
for t in "${wanted[@]}"; do
    if grep -qx "$t" <<<"$defined"; then
        targets+=("$t")
    else
        echo "tsan.sh: $t is not defined in this tree yet; skipped"
    fi
done
if [ "${#targets[@]}" -eq 0 ]; then
    echo "tsan.sh: nothing to run" >&2
    exit 1
fi
part_start=$SECONDS
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
# scripts/test.sh lists the parts of its stages (VL_STAGE_PARTS: a file of "name<TAB>seconds" lines).
[ -n "${VL_STAGE_PARTS:-}" ] && printf 'tsan build\t%s\n' "$((SECONDS - part_start))" >>"$VL_STAGE_PARTS"
part_start=$SECONDS

# Kernels with more address-space randomisation than the ThreadSanitizer runtime expects
# make it refuse to start; without randomisation it always can.
norandom=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
    norandom=(setarch "$(uname -m)" -R)
fi
export TSAN_OPTIONS="suppressions=$here/tests/tsan.supp:second_deadlock_stack=1:history_size=4"
export VL_TEST=1
failed=()
# TSAN_SHARDS=N runs each program's cases in N parts (GoogleTest's sharding) side by side. One by
# default: beside ctest and the real-time runs, more parts overload two cores and the programs'
# timing tests (a picture every 10 ms, upload stalls) fail for the load alone.
shards="${TSAN_SHARDS:-1}"
for t in "${targets[@]}"; do
    binary="$(find "$build/tests" -type f -name "$t" -perm -u+x | head -n 1)"
    if [ -z "$binary" ]; then
        echo "tsan.sh: $t was not built" >&2
        failed+=("$t")
        continue
    fi
    echo "== $t"
    pids=()
    for ((i = 0; i < shards; i++)); do
        (cd "$(dirname "$binary")" && GTEST_TOTAL_SHARDS="$shards" GTEST_SHARD_INDEX="$i" \
            "${norandom[@]}" "$binary" >"$build/$t.$i.tsan.log" 2>&1) &
        pids+=($!)
    done
    for ((i = 0; i < shards; i++)); do
        log="$build/$t.$i.tsan.log"
        if wait "${pids[$i]}"; then
            grep -E '^\[  PASSED  \]' "$log" | tail -n 1 || true
        else
            echo "tsan.sh: $t (part $((i + 1)) of $shards) failed or reported races; from $log:" >&2
            grep -E -A 24 'WARNING: ThreadSanitizer' "$log" | head -n 120 >&2 || true
            grep -E '^\[  FAILED  \]|ThreadSanitizer: reported' "$log" >&2 || tail -n 20 "$log" >&2
            failed+=("$t")
        fi
    done
done

[ -n "${VL_STAGE_PARTS:-}" ] && printf 'tsan run\t%s\n' "$((SECONDS - part_start))" >>"$VL_STAGE_PARTS"
if [ "${#failed[@]}" -gt 0 ]; then
    echo "tsan.sh: failed: ${failed[*]}" >&2
    exit 1
fi
echo "tsan.sh: ${#targets[@]} programs ran without a race"

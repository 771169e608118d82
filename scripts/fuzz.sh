#!/usr/bin/env bash
# Builds every libFuzzer target with clang (AddressSanitizer, UndefinedBehaviorSanitizer
# and the fuzzer runtime) in build-fuzz and runs each one briefly. Exits non-zero when a
# target fails to build, crashes or leaks.
#   scripts/fuzz.sh            every target, FUZZ_SECONDS (default 5) each
#   scripts/fuzz.sh NAME...    only the named targets
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/ccache-env.sh
source "$here/scripts/ccache-env.sh"
build="$here/build-fuzz"
seconds="${FUZZ_SECONDS:-5}"
jobs="${FUZZ_JOBS:-2}"

if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ is not installed (scripts/setup.sh installs it)" >&2
    exit 1
fi

CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DVL_SANITIZE=ON -DVL_BUILD_FUZZ=ON -DVL_BUILD_TESTS=OFF >/dev/null

if [ "$#" -gt 0 ]; then
    targets=("$@")
else
    mapfile -t targets < <(ninja -C "$build" -t targets all | sed -n 's/^\([A-Za-z0-9_]*_fuzz\): phony$/\1/p' | grep -v '^cmake_' | sort -u)
fi
if [ "${#targets[@]}" -eq 0 ]; then
    echo "fuzz.sh: no fuzz targets found" >&2
    exit 1
fi
part_start=$SECONDS
cmake --build "$build" --target "${targets[@]}" -j"$jobs"
# scripts/test.sh lists the parts of its stages (VL_STAGE_PARTS: a file of "name<TAB>seconds" lines).
[ -n "${VL_STAGE_PARTS:-}" ] && printf 'fuzz build\t%s\n' "$((SECONDS - part_start))" >>"$VL_STAGE_PARTS"
part_start=$SECONDS

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=()
for target in "${targets[@]}"; do
    binary="$(find "$build/fuzz" -type f -name "$target" -perm -u+x | head -n 1)"
    if [ -z "$binary" ]; then
        echo "fuzz.sh: $target was not built" >&2
        failed+=("$target")
        continue
    fi
    # New inputs go to a scratch corpus in the build folder; checked-in seeds are only read.
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    seeds=()
    for dir in "$here"/fuzz/*/corpus/"$target"; do
        [ -d "$dir" ] && seeds+=("$dir")
    done
    log="$build/$target.log"
    echo "== $target ($seconds s)"
    if ! (cd "$build" && "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
            -artifact_prefix="$build/$target-" "$corpus" "${seeds[@]}" >"$log" 2>&1); then
        echo "fuzz.sh: $target failed; the last lines of $log:" >&2
        tail -n 40 "$log" >&2
        failed+=("$target")
    else
        grep -E '^Done|#[0-9]+.*DONE' "$log" | tail -n 1 || true
    fi
done

[ -n "${VL_STAGE_PARTS:-}" ] && printf 'fuzz run\t%s\n' "$((SECONDS - part_start))" >>"$VL_STAGE_PARTS"
if [ "${#failed[@]}" -gt 0 ]; then
    echo "fuzz.sh: failed: ${failed[*]}" >&2
    exit 1
fi
echo "fuzz.sh: all ${#targets[@]} targets ran without a crash"

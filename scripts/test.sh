#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs the whole test suite; then the threaded test programs under ThreadSanitizer,
# and the end-to-end exam with its crash-and-resume trials (scripts/e2e.sh).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/scripts/setup.sh"
bash "$here/scripts/build.sh" asan
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# The parsers of outside input get a short libFuzzer run (clang build of their own).
if [ -f "$here/scripts/fuzz.sh" ]; then
    bash "$here/scripts/fuzz.sh"
fi
(cd "$here/build-asan" && ctest --output-on-failure -j"$(nproc)" "$@")
# Races between our threads, which the sanitizers above cannot see (build of its own in build-tsan).
bash "$here/scripts/tsan.sh"
# The whole exam as a student takes it, in a real window, on the simulator's sample paper; beside it a few
# crash-and-resume trials on a short paper of it (a choice, a singing and a judgement question) to keep
# the run short (the full figure is "bash scripts/e2e.sh --kill-trials 20" on the sample paper), then
# a wandering student.
# Both only wait for prompts and music, so they run side by side.
bash "$here/scripts/build.sh" asan >/dev/null
bash "$here/scripts/e2e.sh" --build asan --no-build > "$here/build-asan/e2e.out" 2>&1 &
exam=$!
# Then a wandering student, two seeds, over a short paper with every kind of question.
wander_paper=101,104,111,105,107,205,206,207,208
(bash "$here/scripts/e2e.sh" --build asan --no-build --keep 102,104,203 --kill-trials 3 &&
    bash "$here/scripts/e2e.sh" --build asan --no-build --keep "$wander_paper" --wander 60 --seed 1 &&
    bash "$here/scripts/e2e.sh" --build asan --no-build --keep "$wander_paper" --wander 60 --seed 2) \
    > "$here/build-asan/e2e-kill.out" 2>&1 &
trials=$!
status=0
wait "$exam" || status=1
wait "$trials" || status=1
cat "$here/build-asan/e2e.out" "$here/build-asan/e2e-kill.out"
exit "$status"

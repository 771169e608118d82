#!/usr/bin/env bash
# Configures and builds one build folder. Usage: scripts/build.sh [release|asan|tsan|package] [extra cmake args...]
# "package" is the installed package's kind of programs (scripts/package.sh); the others are development builds.
# VL_TARGETS="a b" builds only those targets.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/ccache-env.sh
source "$here/scripts/ccache-env.sh"
kind="${1:-release}"; shift || true
case "$kind" in
    release) dir="$here/build"; args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
    asan) dir="$here/build-asan"; args=(-DCMAKE_BUILD_TYPE=Debug -DVL_SANITIZE=ON) ;;
    tsan) dir="$here/build-tsan"; args=(-DCMAKE_BUILD_TYPE=Debug -DVL_SANITIZE_THREAD=ON) ;;
    package) dir="$here/build-package"; args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVL_PACKAGE_BUILD=ON -DVL_BUILD_TESTS=OFF) ;;
    *) echo "unknown build kind: $kind (release, asan, tsan or package)" >&2; exit 2 ;;
esac
cmake -S "$here" -B "$dir" -G Ninja "${args[@]}" "$@" >/dev/null
if [ -n "${VL_TARGETS:-}" ]; then
    # shellcheck disable=SC2086
    cmake --build "$dir" -j"$(nproc)" --target $VL_TARGETS
else
    cmake --build "$dir" -j"$(nproc)"
fi
echo "$dir"

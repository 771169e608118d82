#!/usr/bin/env bash
# Installs every Debian package the project needs. Safe to run again: it only
# calls apt-get when something is missing.
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build ccache pkg-config clang libclang-rt-14-dev lld libtsan2
    libgtest-dev libgmock-dev libbenchmark-dev
    liblog4cplus-dev libcurl4-openssl-dev libevent-dev libjsoncpp-dev libsqlcipher-dev sqlcipher sqlite3
    libssl-dev libpugixml-dev
    libsdl2-dev libsdl2-image-dev libx11-dev libcairo2-dev libpango1.0-dev fonts-wqy-microhei fontconfig
    libsndfile1-dev libmpg123-dev libopenmpt-dev libkissfft-dev libspeexdsp-dev
    espeak-ng lame sox
    xvfb xdotool imagemagick x11-apps x11-xserver-utils
    cage xwayland grim weston jq
    chromium
    curl procps
    lintian
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

# Node.js may come from another package source that ships npm inside it.
if ! command -v npm >/dev/null 2>&1; then missing+=(nodejs npm); fi

if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    echo "Installing: ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# playwright-core drives Debian's chromium in the browser test of the guard.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ -f "$here/tests/browser/package.json" ] && [ ! -d "$here/tests/browser/node_modules/playwright-core" ]; then
    (cd "$here/tests/browser" && npm install --no-audit --no-fund --silent)
fi
exit 0

#!/usr/bin/env bash
# Builds the release tree and starts the client against the platform simulator.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/scripts/setup.sh"
bash "$here/scripts/build.sh" release
tree="$here/build/install"
echo "Install tree: $tree"
ls -la "$tree" "$tree/bin"

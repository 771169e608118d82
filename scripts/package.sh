#!/usr/bin/env bash
# The Debian package for the classroom PCs: the package kind of release build
# (build-package/: the automation channel only where root enables it), CPack's
# DEB with the install tree under /opt/virelo-student, a desktop entry and
# dependencies read from the shared libraries, then lintian, which must find no error.
#
#   bash scripts/package.sh          prints the package's path last
#   sudo apt install ./build-package/package/virelo-student_*.deb
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/scripts/setup.sh" >&2
echo "Building the programs (release, package kind)..." >&2
VL_TARGETS="VLStudent VLGuard VLSysDb vl_res vl_prompts vl_package_files vl-drive vl-automate" \
    bash "$here/scripts/build.sh" package >&2
build="$here/build-package"
rm -rf "$build/package"
(cd "$build" && cpack -G DEB -B "$build/package" >&2)
deb="$(ls "$build"/package/virelo-student_*.deb)"
echo "Contents and dependencies:" >&2
dpkg-deb --field "$deb" Package Version Architecture Depends >&2
# Errors fail the package; warnings and notes are shown for a look.
lintian --fail-on error --info "$deb" >&2
echo "$deb"

#!/usr/bin/env bash
# The Debian package for the classroom PCs: a release build, CPack's DEB with the
# install tree under /opt/virelo-student, a desktop entry and dependencies read
# from the shared libraries, then lintian, which must find no error.
#
#   bash scripts/package.sh          prints the package's path last
#   sudo apt install ./build/package/virelo-student_*.deb
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$here/scripts/setup.sh" >&2
echo "Building the programs (release)..." >&2
VL_TARGETS="VLStudent VLGuard VLSysDb vl_res vl_prompts vl_package_files" \
    bash "$here/scripts/build.sh" release >&2
rm -rf "$here/build/package"
(cd "$here/build" && cpack -G DEB -B "$here/build/package" >&2)
deb="$(ls "$here"/build/package/virelo-student_*.deb)"
echo "Contents and dependencies:" >&2
dpkg-deb --field "$deb" Package Version Architecture Depends >&2
# Errors fail the package; warnings and notes are shown for a look.
lintian --fail-on error --info "$deb" >&2
echo "$deb"

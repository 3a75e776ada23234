#!/usr/bin/env bash
# Builds the Debian packages of Gridquilt with CPack (gridquilt, the window, and gridquilt-cli, the
# command-line tools without Qt) and checks them with lintian; prints the two packages' paths last,
# one a line.
#   tools/package.sh             configures and builds build-deb/ with Debian's compiler flags
#                                (hardening included), then packages it
#   tools/package.sh BUILD_DIR   packages a build that is already there (CI packages its test build)
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh

if [ $# -ge 1 ]; then
    build=$1
else
    build=build-deb
    # The flags Debian builds its own packages with: optimisation, fortified functions, stack
    # protection, read-only relocations bound at start-up.
    eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
    # CMake reads CFLAGS, CXXFLAGS and LDFLAGS but not CPPFLAGS, which carries -D_FORTIFY_SOURCE.
    export CFLAGS="$CPPFLAGS $CFLAGS" CXXFLAGS="$CPPFLAGS $CXXFLAGS"
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DGQ_WERROR=ON -DGQ_BUILD_TESTS=OFF
    cmake --build "$build"
fi

rm -f "$build"/gridquilt_*.deb "$build"/gridquilt-cli_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
packages=("$build"/gridquilt_*.deb "$build"/gridquilt-cli_*.deb)

# Errors fail the build; warnings and informational tags are shown.
lintian -I --fail-on error --tag-display-limit 0 "${packages[@]}" >&2
printf '%s\n' "${packages[@]}"

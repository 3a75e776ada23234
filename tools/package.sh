#!/usr/bin/env bash
# Builds the Debian package of Gridquilt with CPack and checks it with lintian; prints the
# package's path last.
#   tools/package.sh             configures and builds build-deb/ with Debian's compiler flags
#                                (hardening included), then packages it
#   tools/package.sh BUILD_DIR   packages a build that is already there (CI packages its test build)
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
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DGQ_WERROR=ON -DGQ_BUILD_TESTS=OFF
    cmake --build "$build"
fi

rm -f "$build"/gridquilt_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
package=$(ls "$build"/gridquilt_*.deb)

# Errors fail the build; warnings are shown.
lintian --fail-on error --tag-display-limit 0 "$package" >&2
echo "$package"

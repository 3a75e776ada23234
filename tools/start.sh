#!/usr/bin/env bash
# Installs what Gridquilt needs, builds it and starts it.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DGQ_BUILD_GUI=ON -DGQ_BUILD_TESTS=OFF
cmake --build build --target gridquilt
exec ./build/app/gridquilt "$@"

#!/usr/bin/env bash
# Installs what building and testing need, builds everything with warnings as errors and runs
# every test, then the sanitizer run and the fuzz harnesses of tools/check-hardening.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build-check -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGQ_WERROR=ON
cmake --build build-check
(cd build-check && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 900 -j2)

# The suite again under AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz harness
# briefly on top of its saved regression inputs.
bash tools/check-hardening.sh

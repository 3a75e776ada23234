#!/usr/bin/env bash
# Runs the tests under AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz harness for a
# short, bounded time on top of its saved regression inputs. Needs what tools/check.sh installs.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
bash tools/install-deps.sh

# Sanitizers. A lean build: no GUI (tools/check.sh runs its tests), -O1, and without the conversions through
# LibreOffice and Gnumeric, which exercise those programs far more than ours and take minutes, and
# without the tests at the size limits, which run under an address-space cap that the sanitizers'
# shadow memory cannot live with.
echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
start=$(date +%s)
cmake -S . -B build-check-asan -G Ninja -DGQ_SANITIZE=ON -DGQ_BUILD_GUI=OFF -DCMAKE_BUILD_TYPE=Debug \
  "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" "-DCMAKE_C_FLAGS_DEBUG=-O1 -g1"
cmake --build build-check-asan
(cd build-check-asan &&
  ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:check_initialization_order=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure --timeout 1800 -j2 -E 'OutsideReaders|AtTheLimit')
echo "== sanitizer build and tests took $(( $(date +%s) - start )) s"

# Fuzzing: each harness for a bounded time (GQ_FUZZ_SECONDS, 60 by default), seeded with its
# regression inputs, workbooks our writers make (fuzz_seed_writer) and, where present, the real
# workbooks of the shared corpus (fuzz/make_seeds.py). Seeds and findings go to a scratch folder
# outside the checkout.
echo "== fuzz harnesses"
seconds=${GQ_FUZZ_SECONDS:-60}
harnesses=(xlsx_read xlsx_parts xls_read xls_stream write_roundtrip formula csv_read ods_content)
CC=clang CXX=clang++ cmake -S . -B build-check-fuzz -G Ninja -DGQ_FUZZ=ON -DGQ_BUILD_GUI=OFF -DGQ_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-check-fuzz --target "${harnesses[@]/#/fuzz_}" fuzz_seed_writer
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
corpus="$root/../shared/corpus/files"
for harness in "${harnesses[@]}"; do
  mkdir -p "$work/$harness/seeds" "$work/$harness/new" "$work/$harness/findings"
  cp "$root/fuzz/regressions/$harness/"* "$work/$harness/seeds/" 2>/dev/null || true
  /usr/bin/python3 fuzz/make_seeds.py "$harness" "$work/$harness/seeds" "$corpus"
  build-check-fuzz/fuzz/fuzz_seed_writer "$harness" "$work/$harness/seeds"
  dict=()
  case $harness in
    xlsx_*) dict=(-dict="$root/fuzz/xlsx.dict") ;;
    xls_*) dict=(-dict="$root/fuzz/xls.dict") ;;
    formula) dict=(-dict="$root/fuzz/formula.dict") ;;
    csv_read) dict=(-dict="$root/fuzz/csv.dict") ;;
    ods_content) dict=(-dict="$root/fuzz/ods.dict") ;;
  esac
  echo "-- fuzz_$harness"
  "build-check-fuzz/fuzz/fuzz_$harness" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 "${dict[@]}" \
    -artifact_prefix="$work/$harness/findings/" -print_final_stats=1 \
    "$work/$harness/new" "$work/$harness/seeds" 2>&1 | tail -n 15 || {
    echo "fuzz_$harness found a failing input; it is kept in $root/build-check-fuzz/findings-$harness:"
    mkdir -p "build-check-fuzz/findings-$harness"
    cp "$work/$harness/findings/"* "build-check-fuzz/findings-$harness/" 2>/dev/null || true
    ls "build-check-fuzz/findings-$harness"
    exit 1
  }
done
echo "== all checks passed"

#!/bin/sh
# The merge measure over every corpus workbook, however large: the suite's CorpusMeasure test with
# its size limit lifted, its four parts one after another. Every readable workbook is merged into
# one .xlsx and one .xls in both modes; gnumeric, LibreOffice, the xlsx validator and a
# cell-by-cell comparison through openpyxl and xlrd judge the outputs, and every difference the
# merge report does not list is printed.
# Takes about ten minutes and a few gigabytes of temporary space on a busy two-core machine.
#
# Usage: tools/measure-corpus.sh [BUILD_DIR]   (default: build)
# SPDX-License-Identifier: Apache-2.0
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
if [ ! -x "$build/tests/gq_merge_tests" ]; then
    echo "measure-corpus.sh: build gq_merge_tests in $build first (ninja -C $build gq_merge_tests)" >&2
    exit 2
fi
GQ_MEASURE_WHOLE_CORPUS=1 CHECK_MERGE_SHOW=1000000 QT_QPA_PLATFORM=offscreen \
    exec "$build/tests/gq_merge_tests" --gtest_filter='*/CorpusMeasure.*'

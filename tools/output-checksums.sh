#!/usr/bin/env bash
# Prints a checksum of every output a merger gives for every corpus workbook and every folder
# named on the command line, in both modes and to both formats, so that two builds can be
# compared byte for byte:
#   tools/output-checksums.sh MERGER [FOLDER...] > sums.txt
# A failed merge is listed with its exit status instead of a checksum.
# SPDX-License-Identifier: Apache-2.0
set -uo pipefail
merger=$(realpath "$1")
shift
corpus="$(cd "$(dirname "$0")/.." && pwd)/../shared/corpus/files"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

one() { # one() LABEL INPUT...
    local label=$1
    shift
    for mode in multi single; do
        for ext in xlsx xls; do
            local flag=()
            [ "$mode" = single ] && flag=(--single)
            local target="$out/out.$ext"
            rm -f "$target"
            "$merger" merge --force "${flag[@]}" -o "$target" "$@" >/dev/null 2>&1
            local rc=$?
            if [ -f "$target" ]; then
                printf '%s\t%s\t%s\texit %d\t%s\n' "$label" "$mode" "$ext" "$rc" "$(sha256sum <"$target" | cut -c1-64)"
            else
                printf '%s\t%s\t%s\texit %d\tno output\n' "$label" "$mode" "$ext" "$rc"
            fi
        done
    done
}

if [ -d "$corpus" ]; then
    for f in "$corpus"/*; do
        one "corpus/$(basename "$f")" "$f"
    done
fi
for folder in "$@"; do
    one "$(basename "$folder")" "$folder"
done

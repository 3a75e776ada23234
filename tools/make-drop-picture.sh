#!/usr/bin/env bash
# Regenerates app/resources/DropPicture.jpg (the source list's background picture) with Qt's
# painter and JPEG writer. Run once by hand; the picture is committed.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail
cd "$(dirname "$0")/.."
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
g++ -std=c++20 -fPIC tools/MakeDropPicture.cpp -o "$work/make-drop-picture" $(pkg-config --cflags --libs Qt6Gui)
QT_QPA_PLATFORM=offscreen "$work/make-drop-picture" app/resources/DropPicture.jpg
echo "wrote app/resources/DropPicture.jpg"

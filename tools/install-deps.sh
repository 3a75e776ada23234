#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Gridquilt needs. Idempotent:
# packages already present are left alone, and apt is only asked when something is missing.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libqt6svg6 libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libzip-dev libdeflate-dev libexpat1-dev libglib2.0-dev
  python3 python3-openpyxl python3-xlrd python3-lxml python3-xlsxwriter
  libreoffice-calc-nogui gnumeric
  libjopendocument-java # ships the OpenDocument 1.2 RELAX NG schema the .ods writer test validates against
  xvfb xauth fonts-dejavu-core
  librsvg2-bin desktop-file-utils appstream man-db libglib2.0-bin
  qt6-l10n-tools qt6-tools-dev qt6-translations-l10n gettext
  dpkg-dev file lintian
  openbox xdotool imagemagick
  clang clang-format clang-tidy libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

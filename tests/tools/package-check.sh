#!/usr/bin/env bash
# Checks Gridquilt's two Debian packages, gridquilt (the window) and gridquilt-cli (the commands,
# without Qt): their control fields and dependencies, every file in its place and nothing more,
# then unpacks both into an empty root and runs the programs from there (versions without a
# display, and a small merge of each kind, read back by openpyxl and xlrd).
#   tests/tools/package-check.sh GRIDQUILT.deb GRIDQUILT-CLI.deb
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail
gui=$(realpath "$1")
cli=$(realpath "$2")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failed=0
field() { dpkg-deb -f "$1" "$2"; }

# Control fields Debian's tools and users look for.
for package in "$gui" "$cli"; do
  for name in Package Version Architecture Maintainer Section Priority Description Homepage; do
    if [ -z "$(field "$package" "$name")" ]; then
      echo "$(basename "$package"): the control field $name is missing"
      failed=1
    fi
  done
  [ "$(field "$package" Section)" = utils ] || { echo "section: $(field "$package" Section)"; failed=1; }
done
[ "$(field "$gui" Package)" = gridquilt ] || { echo "package name: $(field "$gui" Package)"; failed=1; }
[ "$(field "$cli" Package)" = gridquilt-cli ] || { echo "package name: $(field "$cli" Package)"; failed=1; }
version=$(field "$gui" Version)

# The dependencies dpkg-shlibdeps found: exactly the libraries the programs of each package link,
# no development package, every one with a lowest version; the window needs the commands of its
# own version, and the commands need nothing of Qt.
check_depends() {
  local package=$1 wanted=$2 dependencies names
  dependencies=$(field "$package" Depends | tr ',' '\n' | sed 's/^ *//; s/ *$//' | LC_ALL=C sort)
  names=$(echo "$dependencies" | sed 's/ .*//' | paste -sd ' ')
  if [ "$names" != "$wanted" ]; then
    echo "$(basename "$package"): Depends names \"$names\", not \"$wanted\""
    failed=1
  fi
  if echo "$dependencies" | grep -v '(>= ' | grep -qv "^gridquilt-cli (= $version)$"; then
    echo "$(basename "$package"): a dependency without a lowest version: $dependencies"
    failed=1
  fi
}
check_depends "$gui" "gridquilt-cli libc6 libdeflate0 libexpat1 libgcc-s1 libglib2.0-0 libqt6core6 libqt6gui6 libqt6network6 libqt6widgets6 libstdc++6 libzip4 zlib1g"
check_depends "$cli" "libc6 libdeflate0 libexpat1 libgcc-s1 libglib2.0-0 libstdc++6 libzip4 zlib1g"

# Every file each package must hold, and nothing else: the installation under /usr, with the
# manual pages compressed, and the copyright file and changelog Debian asks for.
guiFiles=(
  usr/bin/gridquilt
  usr/share/applications/org.gridquilt.Gridquilt.desktop
  usr/share/doc/gridquilt/changelog.gz
  usr/share/doc/gridquilt/copyright
  usr/share/gridquilt/translations/gridquilt_de.qm
  usr/share/gridquilt/translations/gridquilt_es.qm
  usr/share/gridquilt/translations/gridquilt_fr.qm
  usr/share/gridquilt/translations/gridquilt_it.qm
  usr/share/gridquilt/translations/gridquilt_ja.qm
  usr/share/gridquilt/translations/gridquilt_pt_BR.qm
  usr/share/gridquilt/translations/gridquilt_ru.qm
  usr/share/gridquilt/translations/gridquilt_zh_CN.qm
  usr/share/icons/hicolor/16x16/apps/gridquilt.png
  usr/share/icons/hicolor/24x24/apps/gridquilt.png
  usr/share/icons/hicolor/32x32/apps/gridquilt.png
  usr/share/icons/hicolor/48x48/apps/gridquilt.png
  usr/share/icons/hicolor/64x64/apps/gridquilt.png
  usr/share/icons/hicolor/128x128/apps/gridquilt.png
  usr/share/icons/hicolor/256x256/apps/gridquilt.png
  usr/share/icons/hicolor/scalable/apps/gridquilt.svg
  usr/share/lintian/overrides/gridquilt
  usr/share/man/man1/gridquilt.1.gz
  usr/share/metainfo/org.gridquilt.Gridquilt.metainfo.xml
)
cliFiles=(
  usr/bin/gq-dump
  usr/bin/gridquilt-merge
  usr/share/bash-completion/completions/gq-dump
  usr/share/bash-completion/completions/gridquilt-merge
  usr/share/doc/gridquilt-cli/changelog.gz
  usr/share/doc/gridquilt-cli/copyright
  usr/share/man/man1/gq-dump.1.gz
  usr/share/man/man1/gridquilt-merge.1.gz
)
for language in de es fr it ja pt_BR ru zh_CN; do
  cliFiles+=("usr/share/locale/$language/LC_MESSAGES/gridquilt-cli.mo")
done
check_files() {
  local package=$1 actual wanted
  shift
  actual=$(dpkg-deb --fsys-tarfile "$package" | tar -t | grep -v '/$' | sed 's|^\./||' | LC_ALL=C sort)
  wanted=$(printf '%s\n' "$@" | LC_ALL=C sort)
  if [ "$actual" != "$wanted" ]; then
    echo "$(basename "$package"): packaged files differ from the expected list (< expected, > packaged):"
    diff <(echo "$wanted") <(echo "$actual") || true
    failed=1
  fi
}
check_files "$gui" "${guiFiles[@]}"
check_files "$cli" "${cliFiles[@]}"

# Unpacked into an empty root, the programs find every library they need on the system, and each
# tells its version without a display.
dpkg -x "$gui" "$root"
dpkg -x "$cli" "$root"
for program in gq-dump gridquilt gridquilt-merge; do
  if missing=$(ldd "$root/usr/bin/$program" | grep 'not found'); then
    echo "usr/bin/$program: $missing"
    failed=1
  fi
  told=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/$program" --version 2>&1) || true
  if [ "$told" != "$program $version" ]; then
    echo "$program --version printed \"$told\""
    failed=1
  fi
done

# A small merge of each kind with the unpacked program, read back by independent readers.
work="$root/work"
mkdir "$work"
/usr/bin/python3 - "$work" <<'PY'
import sys, openpyxl
for name, sheets in (("north.xlsx", ["Sales", "Notes"]), ("south.xlsx", ["Sales"])):
    book = openpyxl.Workbook()
    book.remove(book.active)
    for sheet in sheets:
        ws = book.create_sheet(sheet)
        ws["A1"] = name + " " + sheet
        ws["B2"] = 42.5
    book.save(sys.argv[1] + "/" + name)
PY
# The multi-sheet merge goes to standard output ("-o -").
"$root/usr/bin/gridquilt-merge" merge -o - "$work/north.xlsx" "$work/south.xlsx" >"$work/all.xlsx" 2>/dev/null ||
  failed=1
"$root/usr/bin/gridquilt-merge" merge --single -o "$work/all.xls" "$work/north.xlsx" "$work/south.xlsx" >/dev/null ||
  failed=1
/usr/bin/python3 - "$work" <<'PY' || failed=1
import sys, openpyxl, xlrd
work = sys.argv[1]
multi = openpyxl.load_workbook(work + "/all.xlsx")
texts = sorted(ws["A1"].value for ws in multi.worksheets if ws["A1"].value)
want = ["north.xlsx Notes", "north.xlsx Sales", "south.xlsx Sales"]
single = xlrd.open_workbook(work + "/all.xls").sheet_by_index(0)
column = [single.cell_value(r, 0) for r in range(single.nrows) if single.cell_value(r, 0)]
# Single sheet: the blocks are stacked from the last entry of the list up to the first.
if texts != want or column != ["south.xlsx Sales", "north.xlsx Notes", "north.xlsx Sales"]:
    sys.exit("merged workbooks hold %r and %r" % (texts, column))
PY

exit $failed

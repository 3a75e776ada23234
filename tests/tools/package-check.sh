#!/usr/bin/env bash
# Checks a Gridquilt Debian package: its control fields and dependencies, every file in its
# place and nothing more, then unpacks it into an empty root and runs gridquilt-merge from there
# (the version and a small merge of each kind, read back by openpyxl and xlrd).
#   tests/tools/package-check.sh PACKAGE.deb
set -euo pipefail
package=$(realpath "$1")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failed=0
field() { dpkg-deb -f "$package" "$1"; }

# Control fields Debian's tools and users look for.
for name in Package Version Architecture Maintainer Section Priority Description Homepage; do
  if [ -z "$(field "$name")" ]; then
    echo "the control field $name is missing"
    failed=1
  fi
done
[ "$(field Package)" = gridquilt ] || { echo "package name: $(field Package)"; failed=1; }
[ "$(field Section)" = utils ] || { echo "section: $(field Section)"; failed=1; }

# The dependencies dpkg-shlibdeps found: exactly the libraries the three programs link, no
# development package, every one with a lowest version.
dependencies=$(field Depends | tr ',' '\n' | sed 's/^ *//; s/ *$//' | LC_ALL=C sort)
names=$(echo "$dependencies" | sed 's/ .*//' | paste -sd ' ')
wanted="libc6 libdeflate0 libexpat1 libgcc-s1 libglib2.0-0 libqt6core6 libqt6gui6 libqt6network6 libqt6widgets6 libstdc++6 libzip4 zlib1g"
if [ "$names" != "$wanted" ]; then
  echo "Depends names \"$names\", not \"$wanted\""
  failed=1
fi
if echo "$dependencies" | grep -qv '(>= '; then
  echo "a dependency without a lowest version: $(echo "$dependencies" | grep -v '(>= ' | paste -sd ' ')"
  failed=1
fi

# Every file the package must hold, and nothing else: the installation under /usr, with the
# manual pages compressed, and the copyright file and changelog Debian asks for.
expected=(
  usr/bin/gq-dump
  usr/bin/gridquilt
  usr/bin/gridquilt-merge
  usr/share/applications/gridquilt.desktop
  usr/share/bash-completion/completions/gridquilt-merge
  usr/share/doc/gridquilt/changelog.gz
  usr/share/doc/gridquilt/copyright
  usr/share/icons/hicolor/16x16/apps/gridquilt.png
  usr/share/icons/hicolor/24x24/apps/gridquilt.png
  usr/share/icons/hicolor/32x32/apps/gridquilt.png
  usr/share/icons/hicolor/48x48/apps/gridquilt.png
  usr/share/icons/hicolor/64x64/apps/gridquilt.png
  usr/share/icons/hicolor/128x128/apps/gridquilt.png
  usr/share/icons/hicolor/256x256/apps/gridquilt.png
  usr/share/icons/hicolor/scalable/apps/gridquilt.svg
  usr/share/man/man1/gq-dump.1.gz
  usr/share/man/man1/gridquilt-merge.1.gz
  usr/share/man/man1/gridquilt.1.gz
  usr/share/metainfo/org.gridquilt.Gridquilt.metainfo.xml
)
actual=$(dpkg-deb --fsys-tarfile "$package" | tar -t | grep -v '/$' | sed 's|^\./||' | LC_ALL=C sort)
wantedFiles=$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)
if [ "$actual" != "$wantedFiles" ]; then
  echo "packaged files differ from the expected list (< expected, > packaged):"
  diff <(echo "$wantedFiles") <(echo "$actual") || true
  failed=1
fi

# Unpacked into an empty root, the programs find every library they need on the system.
dpkg -x "$package" "$root"
for program in gq-dump gridquilt gridquilt-merge; do
  if missing=$(ldd "$root/usr/bin/$program" | grep 'not found'); then
    echo "usr/bin/$program: $missing"
    failed=1
  fi
done
version=$("$root/usr/bin/gridquilt-merge" --version)
if [ "$version" != "gridquilt-merge $(field Version)" ]; then
  echo "gridquilt-merge --version printed \"$version\""
  failed=1
fi

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
"$root/usr/bin/gridquilt-merge" merge -o "$work/all.xlsx" "$work/north.xlsx" "$work/south.xlsx" >/dev/null || failed=1
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

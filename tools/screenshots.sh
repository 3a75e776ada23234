#!/usr/bin/env bash
# Remakes the screenshots of docs/user-guide.md (docs/images/*.png) from the real window: sample
# workbooks are made on the fly, the window runs on a virtual X display (Xvfb) with a window
# manager (openbox), the files reach it through its command line as a file manager hands them
# over, and xdotool clicks and types as a user would. Run it again whenever the window changes.
#   tools/screenshots.sh [BUILD_DIR]     (default: build; gridquilt and gridquilt-merge must be built)
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
gridquilt=$build/app/gridquilt
merge=$build/cli/gridquilt-merge
images=$PWD/docs/images
for program in "$gridquilt" "$merge"; do
  [ -x "$program" ] || { echo "$program is not built" >&2; exit 2; }
done
for tool in Xvfb openbox xdotool import convert ssconvert; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: bash tools/install-deps.sh installs it" >&2; exit 2; }
done

work=$(mktemp -d /tmp/gridquilt-guide.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A home of its own: the window's hand-off socket, the file dialog's settings and the window
# manager's files stay out of the user's, and a Gridquilt the user has open is left alone.
export HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$HOME/Documents" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
docs=$HOME/Documents

# The sample workbooks: two regions' monthly reports as .xlsx, and an older one as .xls.
/usr/bin/python3 - "$docs" <<'PY'
import datetime, os, sys
import openpyxl
from openpyxl.styles import Alignment, Font, PatternFill

root = sys.argv[1]
os.makedirs(root + "/reports", exist_ok=True)
def sales(ws, region, base):
    ws["A1"] = region + " sales, October 2026"
    ws["A1"].font = Font(bold=True, size=13)
    ws.merge_cells("A1:D1")
    ws.append(["Date", "Product", "Units", "Revenue"])
    for cell in ws[2]:
        cell.font = Font(bold=True)
        cell.fill = PatternFill("solid", fgColor="DDEBF7")
    for day in range(1, 9):
        ws.append([datetime.date(2026, 10, day * 3), ["Tiles", "Grout", "Trowels"][day % 3], base + day * 7,
                   (base + day * 7) * 4.25])
        ws.cell(ws.max_row, 1).number_format = "yyyy-mm-dd"
        ws.cell(ws.max_row, 4).number_format = "#,##0.00"
    ws.column_dimensions["A"].width = 12
    ws.column_dimensions["B"].width = 14
for name, region, base, extra in (("North", "North", 40, "Notes"), ("South", "South", 25, "Summary")):
    book = openpyxl.Workbook()
    sales(book.active, region, base)
    book.active.title = "Sales"
    other = book.create_sheet(extra)
    other["A1"] = "Prepared by the " + region + " office"
    book.save("%s/reports/2026-10 %s.xlsx" % (root, name))
west = openpyxl.Workbook()
sales(west.active, "West", 30)
west.active.title = "Sales"
west.save(root + "/west-source.xlsx")
PY
# Gnumeric's converter writes the .xls, so that it holds just the one sheet.
mkdir -p "$docs/archive"
ssconvert "$docs/west-source.xlsx" "$docs/archive/2026-09 West.xls" 2>/dev/null
rm "$docs/west-source.xlsx"

# The virtual display and its window manager.
Xvfb -displayfd 3 -screen 0 1000x720x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1

# Waits (up to 20 s) for a visible window whose title matches, and prints its id. Searching
# again instead of xdotool's --sync, which gives up when a window closes while it looks.
window() {
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    if [ -n "$id" ]; then
      echo "$id"
      return
    fi
    sleep 0.2
  done
  echo "no window \"$1\" appeared" >&2
  return 1
}
# Saves a window's picture.
shoot() {
  import -window "$1" "$2"
}
# Numbered red markers at client-area points of a picture: label FILE X Y NUMBER [X Y NUMBER]...
label() {
  local file=$1
  shift
  local draw=()
  while [ $# -ge 3 ]; do
    draw+=(-fill '#c8102e' -stroke white -strokewidth 2 -draw "circle $1,$2 $(($1 + 11)),$2"
      -stroke none -fill white -pointsize 14 -annotate "+$(($1 - 4))+$(($2 + 5))" "$3")
    shift 3
  done
  convert "$file" -font DejaVu-Sans-Bold "${draw[@]}" "$file"
}

mkdir -p "$images"
cd "$docs"

# 1. The window as it opens.
"$gridquilt" &
pids+=($!)
main=$(window '^Gridquilt $')
sleep 1
shoot "$main" "$images/window-empty.png"
# The menu bar sits above the fixed client area the window's layout is drawn in.
menu=$(($(xdotool getwindowgeometry --shell "$main" | sed -n 's/^HEIGHT=//p') - 403))

# 2. A second start hands a folder and a workbook to the open window, as "Open With" does.
"$gridquilt" reports "archive/2026-09 West.xls"
sleep 2
# Everything to the merge list (>>), then its fourth row (rows are 16 pixels high below a
# header of 20) up to the top.
xdotool mousemove --window "$main" 329 $((menu + 48)) click 1
sleep 0.5
xdotool mousemove --window "$main" 420 $((menu + 20 + 4 + 3 * 16 + 8)) click 1
sleep 0.3
xdotool mousemove --window "$main" 675 $((menu + 48)) click 1
sleep 0.5
shoot "$main" "$images/window.png"
label "$images/window.png" \
  150 $((menu + 250)) 1 \
  228 $((menu + 358)) 2 \
  329 $((menu + 155)) 3 \
  329 $((menu + 305)) 4 \
  500 $((menu + 250)) 5 \
  675 $((menu + 160)) 6 \
  310 $((menu + 374)) 7 \
  664 $((menu + 373)) 8 \
  95 $((menu / 2)) 9

# 3. "Click here to merge" asks for the new workbook's name.
xdotool mousemove --window "$main" 559 $((menu + 373)) click 1
save=$(window '^Save')
sleep 1
xdotool type --delay 20 "October.xlsx"
sleep 0.5
shoot "$save" "$images/save-dialog.png"
xdotool key Return
done=$(window '^Gridquilt$')
sleep 0.5
shoot "$done" "$images/merge-completed.png"
xdotool key Return
sleep 0.5

# 4. A workbook gone since it was listed: the merge goes on and the report says which sheet and why.
rm "archive/2026-09 West.xls"
xdotool mousemove --window "$main" 559 $((menu + 373)) click 1
save=$(window '^Save')
sleep 1
xdotool type --delay 20 "October again.xlsx"
xdotool key Return
report=$(window '^Gridquilt$')
sleep 0.5
shoot "$report" "$images/merge-report.png"
xdotool key Return
sleep 0.5

ls -1 "$images"/*.png

#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what lands there: every file in its place,
# nothing more, no path of the build folder inside, the desktop files accepted by their validators,
# manual pages that render cleanly and a completion that offers what gridquilt-merge takes.
#   tests/tools/install-check.sh BUILD_DIR
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail
build=$(realpath "$1")
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null

# Every file the installation must hold, and nothing else.
expected=(
  bin/gq-dump
  bin/gridquilt
  bin/gridquilt-merge
  share/applications/org.gridquilt.Gridquilt.desktop
  share/bash-completion/completions/gq-dump
  share/bash-completion/completions/gridquilt-merge
  share/gridquilt/translations/gridquilt_de.qm
  share/gridquilt/translations/gridquilt_es.qm
  share/gridquilt/translations/gridquilt_fr.qm
  share/gridquilt/translations/gridquilt_it.qm
  share/gridquilt/translations/gridquilt_ja.qm
  share/gridquilt/translations/gridquilt_pt_BR.qm
  share/gridquilt/translations/gridquilt_ru.qm
  share/gridquilt/translations/gridquilt_zh_CN.qm
  share/icons/hicolor/16x16/apps/gridquilt.png
  share/icons/hicolor/24x24/apps/gridquilt.png
  share/icons/hicolor/32x32/apps/gridquilt.png
  share/icons/hicolor/48x48/apps/gridquilt.png
  share/icons/hicolor/64x64/apps/gridquilt.png
  share/icons/hicolor/128x128/apps/gridquilt.png
  share/icons/hicolor/256x256/apps/gridquilt.png
  share/icons/hicolor/scalable/apps/gridquilt.svg
  share/man/man1/gq-dump.1
  share/man/man1/gridquilt-merge.1
  share/man/man1/gridquilt.1
  share/metainfo/org.gridquilt.Gridquilt.metainfo.xml
)
# The catalogues of the command line's messages, one per language.
for language in de es fr it ja pt_BR ru zh_CN; do
  expected+=("share/locale/$language/LC_MESSAGES/gridquilt-cli.mo")
done
failed=0
actual=$(cd "$prefix" && find . -type f -printf '%P\n' | LC_ALL=C sort)
wanted=$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)
if [ "$actual" != "$wanted" ]; then
  echo "installed files differ from the expected list (< expected, > installed):"
  diff <(echo "$wanted") <(echo "$actual") || true
  failed=1
fi
for program in gq-dump gridquilt gridquilt-merge; do
  if [ ! -x "$prefix/bin/$program" ]; then
    echo "bin/$program is not executable"
    failed=1
  fi
done

# A path of the build folder would tie the installed files to a folder that may be gone.
if leaks=$(grep -rlF -- "$build" "$prefix"); then
  echo "the build folder $build is named inside:"
  echo "$leaks"
  failed=1
fi

# Each PNG is as large as the folder it is installed in says.
for png in "$prefix"/share/icons/hicolor/*x*/apps/gridquilt.png; do
  size=$(basename "$(dirname "$(dirname "$png")")")
  actualSize=$(python3 -c 'import struct, sys; d = open(sys.argv[1], "rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]))' "$png")
  if [ "$actualSize" != "$size" ]; then
    echo "$png is $actualSize"
    failed=1
  fi
done

# The validators that software centres and menus run on these files.
desktop-file-validate "$prefix/share/applications/org.gridquilt.Gridquilt.desktop" || failed=1
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/org.gridquilt.Gridquilt.metainfo.xml" || failed=1
# The tree check also finds the desktop entry the metadata launches and the icon it names.
appstreamcli validate-tree --no-net "$prefix" || failed=1

# "Open With" offers Gridquilt for every type it claims, but a double-click opens the office suite:
# desktops pick a default among the claimants by their desktop file ids when the user has set no
# preference. The data folder holds the installed entry beside LibreOffice Calc's (its id and the
# types it claims), and GIO answers as the desktop would, with no user or system settings.
desktop="$prefix/defaults"
mkdir -p "$desktop/data/applications" "$desktop/home" "$desktop/config"
ln -s /usr/share/mime "$desktop/data/mime"
entry=$(cd "$prefix/share/applications" && ls)
sed 's/^Exec=.*/Exec=true %F/' "$prefix/share/applications/$entry" >"$desktop/data/applications/$entry"
claimed=$(sed -n 's/^MimeType=//p' "$desktop/data/applications/$entry" | tr ';' ' ')
cat >"$desktop/data/applications/libreoffice-calc.desktop" <<'ENTRY'
[Desktop Entry]
Type=Application
Name=LibreOffice Calc
Exec=true %U
MimeType=application/vnd.oasis.opendocument.spreadsheet;application/vnd.ms-excel;application/vnd.openxmlformats-officedocument.spreadsheetml.sheet;application/vnd.openxmlformats-officedocument.spreadsheetml.template;application/vnd.ms-excel.sheet.macroEnabled.12;application/vnd.ms-excel.template.macroEnabled.12;text/csv;text/tab-separated-values;
ENTRY
update-desktop-database "$desktop/data/applications"
for type in $claimed; do
  answer=$(env -i PATH="$PATH" HOME="$desktop/home" XDG_DATA_HOME="$desktop/home" XDG_CONFIG_HOME="$desktop/config" \
    XDG_CONFIG_DIRS="$desktop/config" XDG_DATA_DIRS="$desktop/data" gio mime "$type" 2>&1)
  default=$(echo "$answer" | sed -n 's/^Default application for .*: //p')
  if [ "$default" != libreoffice-calc.desktop ] || ! echo "$answer" | grep -qx "[[:space:]]*$entry"; then
    echo "$type: the default is \"$default\", or $entry is not offered: $answer"
    failed=1
  fi
done
rm -rf "$desktop"

# The commands speak the user's language from their catalogues under the prefix, and in the C
# locale print the English help as it has always been, byte for byte (these are the checksums of
# that text: after a deliberate change of the help, put the new ones here). Each case: the
# environment | the program and its arguments | what the output must be ("sha256:SUM", or a line
# it must hold).
languageCases=(
  "LC_ALL=C|gridquilt-merge --help|sha256:5a0b57d2140f9730c62d99cd088e80304c52b3c2696da4209d4f9d7cfaf4f4a3"
  "LC_ALL=C LANGUAGE=de|gq-dump --help|sha256:e3312ff359fd7b9b716e4869c2cbc10d9c0d430d95818806c2be3e4cfd1fc0f1"
  "LANG=C.UTF-8 LANGUAGE=de|gridquilt-merge --help|  -h, --help           Diese Hilfe anzeigen."
  "LANG=C.UTF-8 LANGUAGE=ja|gq-dump --help|  -h, --help        このヘルプを表示します。"
  "LANG=C.UTF-8 LANGUAGE=fr|gridquilt-merge frob|Essayez « gridquilt-merge --help » pour plus d'informations."
)
for case in "${languageCases[@]}"; do
  IFS='|' read -r environment command want <<<"$case"
  # shellcheck disable=SC2086 # the environment and the command are lists of words
  got=$(cd "$prefix" && env -i $environment "$prefix/bin/"$command 2>&1) || true
  if [[ $want == sha256:* ]]; then
    ok=$([ "$(printf '%s\n' "$got" | sha256sum | cut -d' ' -f1)" = "${want#sha256:}" ] && echo yes || true)
  else
    ok=$(printf '%s\n' "$got" | grep -qxF -- "$want" && echo yes || true)
  fi
  if [ -z "$ok" ]; then
    echo "$environment $command printed, not $want:"
    echo "$got"
    failed=1
  fi
done

# The manual pages render without a warning from man or groff.
for page in "$prefix"/share/man/man1/*.1; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "$page: $warnings"
    failed=1
  fi
done

# The completion offers commands, the options of each, and only workbooks and folders as inputs.
# Each case: the words typed (the last one being completed) | the completions, sorted.
completion="$prefix/share/bash-completion/completions/gridquilt-merge"
mkdir "$prefix/work" "$prefix/work/folder"
touch "$prefix/work/a.xlsx" "$prefix/work/B.XLS" "$prefix/work/notes.txt" "$prefix/work/m.xlsm"
cases=(
  "gridquilt-merge ''|list merge"
  "gridquilt-merge -|--help --version"
  "gridquilt-merge list ''|B.XLS a.xlsx folder m.xlsm"
  "gridquilt-merge list -|--help"
  "gridquilt-merge merge --s|--single"
  "gridquilt-merge merge -o ''|B.XLS a.xlsx folder m.xlsm"
  "gridquilt-merge merge --list ''|- B.XLS a.xlsx folder m.xlsm notes.txt"
  "gridquilt-merge merge -o out.xlsx a|a.xlsx"
)
for case in "${cases[@]}"; do
  words=${case%%|*}
  want=${case#*|}
  got=$(cd "$prefix/work" && bash -c 'shopt -s extglob; source "$1"; eval "COMP_WORDS=($2)"
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _gridquilt_merge; printf "%s\n" "${COMPREPLY[@]}"' \
    bash "$completion" "$words" | LC_ALL=C sort | paste -sd " ")
  if [ "$got" != "$want" ]; then
    echo "completing \"$words\" gave \"$got\", not \"$want\""
    failed=1
  fi
done
rm -rf "$prefix/work"

exit $failed

#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what lands there: every file in its place,
# nothing more, no path of the build folder inside, and the desktop files accepted by their validators.
#   tests/tools/install-check.sh BUILD_DIR
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
)
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

exit $failed

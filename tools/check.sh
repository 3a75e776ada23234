#!/usr/bin/env bash
# Installs what building and testing need, checks the formatting of the C++ files this change
# touched, builds everything with warnings as errors, runs clang-tidy on the engine and every test,
# checks the Debian package, then the sanitizer run and the fuzz harnesses of
# tools/check-hardening.sh.
# SPDX-License-Identifier: Apache-2.0
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh

# Formatting: clang-format (with .clang-format) must leave every C++ file of this change as it is.
# "This change" is everything since the commit the work started from: the merge base with main
# (origin/main, else main) when that is not HEAD itself, as on a branch; otherwise, as in CI on a
# fresh clone of main, the last commit. Uncommitted edits and new files count too. GQ_FORMAT_BASE
# names another starting commit. Outside a git checkout there is nothing to compare, so no check.
format_base() {
    if [ -n "${GQ_FORMAT_BASE:-}" ]; then
        git rev-parse --verify "$GQ_FORMAT_BASE^{commit}"
        return
    fi
    local head ref base
    head=$(git rev-parse HEAD)
    for ref in origin/main main; do
        if base=$(git merge-base HEAD "$ref" 2>/dev/null) && [ "$base" != "$head" ]; then
            echo "$base"
            return
        fi
    done
    git rev-parse --verify -q "HEAD~1^{commit}" || git hash-object -t tree /dev/null
}
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    base=$(format_base)
    mapfile -t changed < <({
        git diff --name-only --diff-filter=ACMR "$base" -- '*.cpp' '*.h'
        git ls-files --others --exclude-standard -- '*.cpp' '*.h'
    } | sort -u)
    if [ ${#changed[@]} -gt 0 ]; then
        echo "clang-format: checking ${#changed[@]} changed file(s) since $(git rev-parse --short "$base")"
        clang-format --dry-run -Werror "${changed[@]}"
    fi
fi

cmake -S . -B build-check -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGQ_WERROR=ON
cmake --build build-check

# The small clang-tidy profile of .clang-tidy (likely bugs, needless copies) on the engine, with
# the compile commands of the build above; any finding fails the check.
find engine -name '*.cpp' -print0 | sort -z | xargs -0 -P2 -n8 clang-tidy -p build-check --quiet

(cd build-check && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 900 -j2)

# The Debian packages of the build above: lintian errors fail them; then their control fields,
# dependencies and files are checked, and the programs are run from an empty root they are
# unpacked into.
mapfile -t packages < <(bash tools/package.sh build-check | tail -n 2)
bash tests/tools/package-check.sh "${packages[@]}"

# The suite again under AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz harness
# briefly on top of its saved regression inputs.
bash tools/check-hardening.sh

#!/usr/bin/env bash
# Lines of tests against lines of code, over the files git tracks:
#   tests   files under tests/, */test/, */tests/, */testkit/, *.test.*, */test_*.py
#           (their CMakeLists.txt files included)
#   neither bench/, scripts/, docs/, .ci/ and the other CMakeLists.txt files
#   code    every other C, C++, JavaScript, Python, shell or CMake file
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z | tr '\0' '\n' |
    grep -E '\.(c|cc|cpp|h|hpp|mjs|js|py|sh|cmake)$|CMakeLists\.txt$' |
    while IFS= read -r f; do
        case "$f" in
            tests/* | */test/* | */tests/* | */testkit/* | *.test.* | */test_*.py) kind=test ;;
            bench/* | scripts/* | docs/* | .ci/* | CMakeLists.txt | */CMakeLists.txt) continue ;;
            *) kind=code ;;
        esac
        printf '%s %s\n' "$kind" "$(wc -l < "$f")"
    done |
    awk '{ n[$1] += $2 }
         END { printf "tests %d lines, code %d lines: %.0f%%\n", n["test"], n["code"], \
               n["code"] ? 100 * n["test"] / n["code"] : 0 }'

#!/usr/bin/env bash
# Non-blank code lines of the tree: tests/ against everything else (C++ sources and headers,
# CMake, Python, shell; build folders left out).   Usage: tools/code-lines.sh [TREE]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
find . \( -path './build*' -o -path './.git' \) -prune -o -type f \
    \( -name '*.cpp' -o -name '*.h' -o -name CMakeLists.txt -o -name '*.cmake' \
       -o -name '*.py' -o -name '*.sh' \) -print0 |
    xargs -0 grep -c -v '^[[:space:]]*$' |
    awk -F: '$1 ~ /^\.\/tests\// { t += $2; next } { o += $2 }
        END { printf "tests %d, rest %d, tests are %.1f%% of all\n", t, o, 100 * t / (t + o) }'

#!/usr/bin/env bash
# Sets up, builds and starts Kurimo.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/setup.sh" "$here/build"
exec "$here/build/kurimo" "$@"

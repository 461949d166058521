#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite, headless. The mutated-file test runs a second
# time in a build with AddressSanitizer, so a decoder fault on damaged input cannot hide.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/setup.sh" "$here/build"
export QT_QPA_PLATFORM=offscreen

if [ "${KURIMO_SKIP_ASAN:-0}" != 1 ]; then
  export CCACHE_BASEDIR="$here" CCACHE_NOHASHDIR=1
  cmake -S "$here" -B "$here/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKURIMO_ASAN=ON -DKURIMO_BENCH=OFF >/dev/null
  cmake --build "$here/build-asan" --target decode_fuzz_tests -j "$(nproc)"
  (cd "$here/build-asan" &&
    LSAN_OPTIONS="suppressions=$here/tests/decode/lsan-suppressions.txt" \
      ctest -R DecodeFuzz --output-on-failure)
fi

cd "$here/build"
ctest --output-on-failure -j "$(nproc)" --timeout 600 "$@"

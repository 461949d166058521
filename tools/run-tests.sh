#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite, headless. Before the suite, two sanitizer
# builds run the tests where a fault can pass unseen in a normal build, each building only
# the test programs it runs:
#   build-asan/  AddressSanitizer + UndefinedBehaviorSanitizer: the mutated AVI files and
#                the random and mutated command lines (KURIMO_SKIP_ASAN=1 skips it);
#   build-tsan/  ThreadSanitizer: the threaded tests (device and playback, decode-ahead, frame
#                pool, audio), with tests/tsan-suppressions.txt (KURIMO_SKIP_TSAN=1 skips it).
#                Not the device window's placement tests: they check where it goes, not our
#                threads, and their large windows send Qt's image conversions to its thread
#                pool, whose hand-overs (QMutex, a futex) the sanitizer cannot see, so it
#                reports Qt against itself.
# Any sanitizer report fails the run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/tools/setup.sh" "$here/build"
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
export CCACHE_BASEDIR="$here" CCACHE_NOHASHDIR=1

# sanitize DIR OPTION EXCLUDE TARGET...: configure DIR with OPTION on, build the targets and
# run their tests (each test is labelled with its program's name) but those matching the
# regular expression EXCLUDE, when it is not empty; test_jobs tests at a time (default: all
# cores).
sanitize() {
  local dir=$here/$1 option=$2 start=$SECONDS tests_at_once=${test_jobs:-$jobs}
  local exclude=()
  [ -n "$3" ] && exclude=(-E "$3")
  shift 3
  cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -D"$option"=ON \
    -DKURIMO_BENCH=OFF >/dev/null
  cmake --build "$dir" -j "$jobs" --target "$@"
  local labels
  labels=$(IFS='|'; echo "$*")
  (cd "$dir" && ctest -L "^($labels)\$" "${exclude[@]}" --no-tests=error --output-on-failure \
    -j "$tests_at_once" --timeout 600)
  echo "run-tests: $option stage took $((SECONDS - start)) s"
}

if [ "${KURIMO_SKIP_ASAN:-0}" != 1 ]; then
  LSAN_OPTIONS="suppressions=$here/tests/decode/lsan-suppressions.txt" \
  UBSAN_OPTIONS="print_stacktrace=1" \
    sanitize build-asan KURIMO_ASAN '' decode_fuzz_tests mci_fuzz_tests
fi
if [ "${KURIMO_SKIP_TSAN:-0}" != 1 ]; then
  # One test at a time: the frame pool's prefaulting thread runs at idle priority, and a second
  # sanitized test beside it can starve it for longer than its test waits.
  TSAN_OPTIONS="suppressions=$here/tests/tsan-suppressions.txt second_deadlock_stack=1" \
  test_jobs=1 \
    sanitize build-tsan KURIMO_TSAN '^DeviceWindow\.' \
      device_tests decode_pool_tests audio_tests
fi

cd "$here/build"
ctest --output-on-failure -j "$jobs" --timeout 600 "$@"

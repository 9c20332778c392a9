#!/usr/bin/env bash
# Builds and runs every test: the plain build (with the benchmark program and the front ends),
# then the tests again under AddressSanitizer+UndefinedBehaviorSanitizer, the threading tests
# under ThreadSanitizer, each fuzz target for a short bounded time, and the packages with their
# files, units and manual pages.
# Usage: scripts/test.sh [--quick]   (--quick: the plain build only)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests >/dev/null

# Real numbers in settings follow the locale's decimal separator; the tests use a "," and a "."
# locale, built here for the test run only (LOCPATH) instead of into the system.
locales="$PWD/build/locales"
for loc in ru_RU en_US; do
  [ -d "$locales/$loc.UTF-8" ] || { mkdir -p "$locales"; localedef -i "$loc" -f UTF-8 "$locales/$loc.UTF-8"; }
done
export LOCPATH="$locales"

jobs=$(nproc)
quick=0
[ "${1:-}" = "--quick" ] && quick=1

configure_and_build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

echo "== format"
scripts/check_format.sh

echo "== plain build"
configure_and_build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTAVO_TESTS=ON -DKESTAVO_BENCH=ON
ctest --test-dir build/release --output-on-failure -j "$jobs" --timeout 300

if [ "$quick" = 1 ]; then exit 0; fi

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
# Also while building: the test lists are read from the test programs then.
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
configure_and_build build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTAVO_SANITIZE="address;undefined" \
  -DKESTAVO_BENCH=OFF -DKESTAVO_UI=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 600

echo "== ThreadSanitizer (threading tests)"
configure_and_build build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTAVO_SANITIZE=thread \
  -DKESTAVO_BENCH=OFF -DKESTAVO_UI=OFF
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build/tsan --output-on-failure -j "$jobs" --timeout 600 -L 'capture|platform|app'

if [ -x scripts/fuzz.sh ]; then
  echo "== fuzz targets"
  scripts/fuzz.sh "${KESTAVO_FUZZ_SECONDS:-15}"
fi

echo "== packages"
scripts/check_packages.sh

echo "== all tests passed"

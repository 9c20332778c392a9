#!/usr/bin/env bash
# Builds the recorder and runs it. Arguments go to the program (try --help). Without a display
# it runs headless; without any sound input it records from the demo line. Installs only what
# building and running need (scripts/setup.sh); the tests' tool chain comes with scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >/dev/null
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTAVO_TESTS=OFF -DKESTAVO_BENCH=OFF >/dev/null
# The plug-in trial program goes beside the recorder, which tries every plug-in with it first.
cmake --build build/release -j "$(nproc)" --target kestavo kestavo-plugin-probe
exec build/release/kestavo "$@"

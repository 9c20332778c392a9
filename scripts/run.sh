#!/usr/bin/env bash
# Builds the recorder and runs it. Arguments go to the program (try --help). Without a display
# it runs headless; without any sound input it records from the demo line.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >/dev/null
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target kestavo
exec build/release/kestavo "$@"

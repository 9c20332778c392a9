#!/usr/bin/env bash
# Builds the Debian packages into build/packages (or the folder given), from the plain build
# folder build/release (configured for /usr):
#   kestavo          the headless recorder (built without the window front end, so Qt-free),
#                    kestavo-detect, the server access library netlocate.so (used when the
#                    program folder holds none), language tables, manual, man pages, the systemd unit;
#   kestavo-desktop  the window front end (needs kestavo);
#   kestavo-server   the receiving server with its unit and man page (when the server part is built).
# Runtime dependencies come from dpkg-shlibdeps.
# Usage: scripts/package.sh [output folder]
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(mkdir -p "${1:-build/packages}" && cd "${1:-build/packages}" && pwd)"
build="$PWD/build/release"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr -DKESTAVO_UI=ON >/dev/null
targets=(kestavo kestavo-detect kestavo-plugin-probe kestavo_headless)
ninja -C "$build" -t targets all 2>/dev/null | grep -q '^kestavo-server:' && targets+=(kestavo-server)
ninja -C "$build" -t targets all 2>/dev/null | grep -q '^netlocate:' && targets+=(netlocate)
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
rm -rf "$build/_cpack" && (cd "$build" && cpack -G DEB -B "$build/_cpack" >/dev/null)
rm -f "$out"/*.deb
cp "$build"/_cpack/*.deb "$out"/
ls -1 "$out"/*.deb

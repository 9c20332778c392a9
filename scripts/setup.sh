#!/usr/bin/env bash
# Installs the Debian 12 packages Kestavo needs. Idempotent: when everything is present it only
# checks and returns.
#   scripts/setup.sh           what building and running the recorder and its tools need
#   scripts/setup.sh --tests   that, plus the test, fuzz, benchmark and packaging tool chain
# No locale is set up here: the test script builds the two it uses into its build folder.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libasound2-dev libmp3lame-dev
  qt6-base-dev qt6-qpa-plugins fonts-dejavu-core
  libcli11-dev libsndfile1-dev libsoxr-dev
  libsqlite3-dev libpq-dev libcpp-httplib-dev
)
test_packages=(
  clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libqt6test6 xvfb xauth x11-utils
  alsa-utils mpg123 sox valgrind python3
  sqlite3 postgresql chromium
  systemd man-db dpkg-dev fakeroot
  locales
)
case "${1:-}" in
  "") ;;
  --tests) packages+=("${test_packages[@]}") ;;
  *) echo "usage: scripts/setup.sh [--tests]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
echo "setup: all packages present"

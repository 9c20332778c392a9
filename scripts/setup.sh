#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the recorder need, and the
# locales the tests use. Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libasound2-dev alsa-utils
  libmp3lame-dev mpg123
  qt6-base-dev libqt6test6 qt6-qpa-plugins xvfb xauth x11-utils fonts-dejavu-core
  libsqlite3-dev sqlite3 libpq-dev postgresql libcpp-httplib-dev chromium
  libcli11-dev libsndfile1-dev libsoxr-dev
  systemd man-db dpkg-dev fakeroot
  sox locales valgrind python3 clang-format
)

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

# Real numbers in settings follow the locale's decimal separator; the tests use both a "," and a "." locale.
for loc in ru_RU.UTF-8 en_US.UTF-8; do
  if ! locale -a 2>/dev/null | grep -qi "^${loc%%.*}\.utf-\?8$"; then
    $SUDO sed -i "s/^# *${loc} UTF-8/${loc} UTF-8/" /etc/locale.gen
    grep -q "^${loc} UTF-8" /etc/locale.gen || echo "${loc} UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
  fi
done
echo "setup: all packages present"

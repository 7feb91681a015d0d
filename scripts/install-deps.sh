#!/usr/bin/env bash
# Installs every Debian package the project builds, tests and benchmarks with.
# Idempotent: when everything is present it prints nothing and changes nothing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config git
  libsdl2-dev libepoxy-dev
  libgl1-mesa-dri libegl-mesa0 libegl1 libgl1 libgles2 mesa-utils xvfb xauth
  libmeshoptimizer-dev libstb-dev zlib1g-dev
  libpango1.0-dev libcairo2-dev fontconfig fonts-dejavu-core fonts-liberation
  libglu1-mesa-dev
  libsnappy-dev nettle-dev libboost-dev librapidxml-dev libtinyxml-dev
  liblua5.1-0-dev libgtk-3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  locales
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "install-deps: installing ${#missing[@]} package(s): ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"

#!/usr/bin/env bash
# Installs the Debian packages that building and testing Quarro need, only those missing.
# Sourced by scripts/run and scripts/test; runs apt-get update at most once.
set -euo pipefail

QUARRO_PACKAGES=(
  build-essential cmake pkg-config help2man
  libgtest-dev libgmock-dev libbenchmark-dev
  libfltk1.3-dev fluid libx11-dev libdevil-dev libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri
  libhwy-dev libpng-dev libspng-dev zlib1g-dev
  ffmpeg parallel
  clang libclang-rt-14-dev
  xvfb xauth x11-utils xdotool imagemagick fonts-dejavu-core
  libwebp-dev libstb-dev libimage-exiftool-perl
  libheif-dev libheif1 libde265-0 libdav1d6 libaom3 libjpeg62-turbo-dev libtiff-dev libgif-dev
  libtiff6 libwebp7 libwebpdemux2 libgif7 libstb0 libdevil1c2
  python3 python3-dev pybind11-dev python3-numpy python3-pytest
  libseccomp-dev
  liblcms2-dev liblcms2-2 icc-profiles-free colord-data libgs-common
)

quarro_install_deps() {
  quarro_install_packages "${QUARRO_PACKAGES[@]}"
}

# Installs those of the named packages that are missing; the test scripts use it for the tools
# only their tests need.
quarro_install_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
}

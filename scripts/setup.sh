#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building, testing and running.
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config
          qt6-base-dev libgl-dev libgtest-dev libgmock-dev libbenchmark-dev
          fonts-ipafont-gothic clang libclang-rt-14-dev locales
          libcli11-dev nlohmann-json3-dev libudev-dev umockdev libumockdev-dev zlib1g-dev
          libhdf5-dev libmatio-dev hdf5-tools python3-h5py
          ccache help2man lintian librsvg2-bin fakeroot file libacl1-dev libfontconfig-dev udev
          python3-dev pybind11-dev python3-numpy python3-pytest python3-pandas python3-xarray python3-mypy dosfstools stress-ng)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A comma-decimal locale lets the tests prove that numbers never follow the user's locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  if [ "$(id -u)" -eq 0 ] && [ -f /etc/locale.gen ]; then
    sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    locale-gen >/dev/null 2>&1 || true
  fi
fi

#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and demonstrates with, when missing.
# Run as root on Debian 12. Extra package names may be given as arguments.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  qtbase5-dev qttools5-dev-tools qttools5-dev libqt5svg5-dev
  libprotobuf-dev protobuf-compiler zlib1g-dev
  libtomcrypt-dev libtommath-dev liblzma-dev libboost-dev libdivsufsort-dev
  libgtest-dev libgmock-dev
  xvfb xauth openssl python3
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "deps.sh: packages are missing and this is not root: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"

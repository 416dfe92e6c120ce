#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools libgl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev libpugixml-dev
  clang libclang-rt-14-dev
  mingw-w64 wine64 wine libwine:i386
  xvfb xauth x11-utils imagemagick fonts-dejavu-core fonts-liberation openbox xdotool
  xdg-utils python3 python3-pefile
  mono-utils mono-mcs
  qt6-translations-l10n
  dpkg-dev lintian desktop-file-utils groff-base devscripts
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
# Wine's 32-bit DLLs (i386-windows), which the Linux search gives 32-bit
# programs, come from the i386 architecture. Only the DLLs: the 32-bit loader
# (wine32) would become what "wine" starts, and kernels without 32-bit
# support cannot run it.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

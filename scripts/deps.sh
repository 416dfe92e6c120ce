#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
#
# The archive has bad days: an index out of step with its Release file
# ("File has unexpected size ... Mirror sync in progress?"), most often the
# i386 security index. Then the update is retried, and the install goes on
# with the indexes apt has. Wine's 32-bit Windows DLLs are all the tests need
# of the i386 architecture; when libwine:i386 cannot be installed (its 32-bit
# Linux libraries must match amd64 versions from the missing index), its
# i386-windows folder is unpacked from the package itself where the search
# looks for it.
#   TAVELIN_DEPS_ROOT   where that folder is unpacked (default /; for tests)
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools libgl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev libpugixml-dev
  nlohmann-json3-dev libssl-dev osslsigncode zlib1g-dev libz-mingw-w64-dev
  clang libclang-rt-14-dev
  clang-22 lld-22 llvm-22
  mingw-w64 wine64 wine
  xvfb xauth x11-utils imagemagick fonts-dejavu-core fonts-liberation openbox xdotool
  xdg-utils python3 python3-pefile python3-jsonschema
  mono-utils mono-mcs
  qt6-translations-l10n
  dpkg-dev lintian desktop-file-utils groff-base devscripts
)
root=${TAVELIN_DEPS_ROOT:-}
wine32_dir=/usr/lib/i386-linux-gnu/wine/i386-windows
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
say() { echo "deps: $*" >&2; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

updated=0
update_index() {
  [ $updated = 1 ] && return 0
  updated=1
  local try
  for try in 1 2 3; do
    if $SUDO apt-get update -qq -o Acquire::Retries=2; then return 0; fi
    [ $try = 3 ] || { say "package index update failed (try $try of 3), retrying"; sleep $((try * 5)); }
  done
  say "some package indexes could not be updated; going on with the indexes apt has"
}

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing: ${missing[*]}"
  update_index
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine's 32-bit DLLs, which the Linux search gives 32-bit programs. Only the
# DLLs: the 32-bit loader (wine32) would become what "wine" starts, and
# kernels without 32-bit support cannot run it.
if ! installed libwine:i386 && [ ! -f "$root$wine32_dir/kernel32.dll" ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    updated=0
  fi
  update_index
  if ! DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends libwine:i386; then
    # The same version as the 64-bit Wine, so both folders come from one release.
    version=$(dpkg-query -W -f='${Version}' libwine 2>/dev/null || true)
    say "libwine:i386 cannot be installed from today's indexes; unpacking its Windows DLLs into $root$wine32_dir"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    ( cd "$work" && { apt-get download -qq "libwine:i386${version:+=$version}" 2>/dev/null \
                      || apt-get download -qq libwine:i386; } )
    deb=$(ls "$work"/libwine_*_i386.deb)
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$work" ".$wine32_dir" 2>/dev/null || true
    [ -f "$work$wine32_dir/kernel32.dll" ] || { say "no i386-windows/kernel32.dll in $deb"; exit 1; }
    # Staged beside its place and renamed, so a kill leaves no half folder.
    $SUDO mkdir -p "$(dirname "$root$wine32_dir")"
    $SUDO rm -rf "$root$wine32_dir.tavelin-new"
    $SUDO cp -a "$work$wine32_dir" "$root$wine32_dir.tavelin-new"
    $SUDO rm -rf "$root$wine32_dir"
    $SUDO mv "$root$wine32_dir.tavelin-new" "$root$wine32_dir"
    say "unpacked $(basename "$deb") (not registered with dpkg)"
  fi
fi

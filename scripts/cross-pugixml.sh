#!/usr/bin/env bash
# Fetches pugixml's Debian source package (the version of the host's
# libpugixml-dev) once, for the MinGW-w64 cross build, which compiles it in.
# Keeps only its src/ folder in
#   ${XDG_CACHE_HOME:-~/.cache}/tavelin/pugixml-<version>
# and does nothing when that folder is already complete. Progress goes to
# stderr; the folder holding pugixml.cpp is printed on stdout.
#   --cached   print the folder and succeed when it is complete; fetch nothing
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/debsrc.sh
. "$repo/scripts/debsrc.sh"

deb_version=$(dpkg-query -W -f='${Version}' libpugixml-dev 2>/dev/null) \
  || { echo "cross-pugixml: libpugixml-dev is not installed (scripts/deps.sh)" >&2; exit 1; }
version=$(pkg_upstream libpugixml-dev)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/tavelin
dest=$cache/pugixml-$version
stamp=$dest/.tavelin-complete

if [ -f "$stamp" ]; then echo "$dest"; exit 0; fi
if [ "${1:-}" = --cached ]; then echo "$dest"; exit 1; fi
command -v dpkg-source >/dev/null || { echo "cross-pugixml: dpkg-source not found (package dpkg-dev)" >&2; exit 1; }

work=$cache/work-pugixml-$version
trap 'rm -rf "$work"' EXIT
debsrc_setup "$work/apt"
echo "cross-pugixml: fetching source package pugixml $deb_version" >&2
debsrc_fetch "$work/apt" pugixml "$deb_version" "$version" "$work/src"
[ -f "$work/src/src/pugixml.cpp" ] || { echo "cross-pugixml: no src/pugixml.cpp in the source package" >&2; exit 1; }
rm -rf "$dest"; mkdir -p "$dest"
cp "$work/src/src/pugixml.cpp" "$work/src/src/pugixml.hpp" "$work/src/src/pugiconfig.hpp" "$dest/"
cp "$work/src/LICENSE.md" "$dest/" 2>/dev/null || true
echo "pugixml $deb_version, fetched $(date -u +%FT%TZ)" > "$stamp"
echo "$dest"

#!/usr/bin/env bash
# Builds OpenSSL's libcrypto for the MinGW-w64 cross build (x86_64-w64-mingw32)
# from Debian's source package of the host's libssl-dev, once. Only the
# static libcrypto and its headers are kept, in
#   ${XDG_CACHE_HOME:-~/.cache}/tavelin/openssl-mingw64-<version>/{include,lib}
# and nothing is done when that folder is already complete. Progress goes to
# stderr; the folder is printed on stdout.
#   --cached   print the folder and succeed when it is complete; build nothing
#   TAVELIN_OPENSSL_JOBS  parallel jobs (default: nproc)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
target=x86_64-w64-mingw32
# shellcheck source=scripts/debsrc.sh
. "$repo/scripts/debsrc.sh"

deb_version=$(dpkg-query -W -f='${Version}' libssl-dev 2>/dev/null) \
  || { echo "cross-openssl: libssl-dev is not installed (scripts/deps.sh)" >&2; exit 1; }
version=$(pkg_upstream libssl-dev)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/tavelin
dest=$cache/openssl-mingw64-$version
stamp=$dest/.tavelin-complete

if [ -f "$stamp" ]; then echo "$dest"; exit 0; fi
if [ "${1:-}" = --cached ]; then echo "$dest"; exit 1; fi
for tool in dpkg-source perl make $target-gcc-posix $target-ar $target-ranlib; do
  command -v $tool >/dev/null || { echo "cross-openssl: $tool not found" >&2; exit 1; }
done

start=$(date +%s)
step() { echo "cross-openssl [$(( $(date +%s) - start ))s]: $*" >&2; }
work=$cache/work-openssl-$version
trap 'rm -rf "$work"' EXIT
debsrc_setup "$work/apt"
# The host's exact source when the archive still has it; else, as a stable
# release's point updates keep the interface, the newest source of the same
# series (3.0.x) that downloads (a security mirror may list what it lacks).
series=$(echo "$version" | cut -d. -f1-2)
apt-get "${apt_opts[@]}" update -qq || echo "cross-openssl: some source indexes could not be updated; going on with those apt has" >&2
candidates=("$deb_version")
while read -r v; do
  u=${v#*:}; u=${u%-*}; u=${u%%+*}
  [ "$v" != "$deb_version" ] && [ "${u%.*}" = "$series" ] && candidates+=("$v")
done < <(apt-cache "${apt_opts[@]}" showsrc openssl 2>/dev/null | sed -n 's/^Version: //p' | sort -u -r -V)
dsc=
for v in "${candidates[@]}"; do
  rm -rf "$work/dl"; mkdir -p "$work/dl"
  if ( cd "$work/dl" && apt-get "${apt_opts[@]}" source -qq --download-only "openssl=$v" >/dev/null 2>&1 ); then
    dsc=$(ls "$work"/dl/openssl_*.dsc 2>/dev/null || true)
    [ -n "$dsc" ] && { fetched=$v; break; }
  fi
  step "source openssl $v not available"
done
[ -n "$dsc" ] || { echo "cross-openssl: no openssl $series.x source package could be fetched" >&2; exit 1; }
[ "$fetched" = "$deb_version" ] || step "the archive no longer has openssl $deb_version: using $fetched of the same series"
step "unpacking source package openssl $fetched"
dpkg-source --no-check -x "$dsc" "$work/src" >/dev/null

# What the signature reader needs: PKCS#7, X.509, ASN.1, the digests, RSA,
# DSA and EC for the signers' keys, RFC 3161 tokens. Everything with no use
# offline (sockets, engines, loadable modules, protocol code) and the
# ciphers no signature uses are left out, which halves the build.
options=(
  mingw64 no-shared no-tests no-module no-engine no-dso no-legacy no-sock no-async no-autoload-config
  no-ui-console no-srp no-ct no-ocsp no-comp no-cmp
  no-idea no-mdc2 no-rc2 no-rc4 no-rc5 no-bf no-cast no-camellia no-seed no-aria no-sm2 no-sm3 no-sm4
  no-whirlpool no-siphash no-scrypt no-chacha no-poly1305 no-ocb no-gost
  --cross-compile-prefix=$target- --prefix=/nonexistent --libdir=lib
)
mkdir -p "$work/build"
step "configuring: ${options[*]}"
# The posix compiler, as the project's toolchain file uses: one runtime.
( cd "$work/build" && CC=gcc-posix perl "$work/src/Configure" "${options[@]}" >/dev/null )
step "building libcrypto.a"
( cd "$work/build" && nice make -s -j "${TAVELIN_OPENSSL_JOBS:-$(nproc)}" build_generated >/dev/null \
  && nice make -s -j "${TAVELIN_OPENSSL_JOBS:-$(nproc)}" libcrypto.a >/dev/null )
[ -f "$work/build/libcrypto.a" ] || { echo "cross-openssl: no libcrypto.a was built" >&2; exit 1; }

rm -rf "$dest"; mkdir -p "$dest/include/openssl" "$dest/lib"
cp "$work/src/include/openssl/"*.h "$dest/include/openssl/"
cp "$work/build/include/openssl/"*.h "$dest/include/openssl/"
cp "$work/build/libcrypto.a" "$dest/lib/"
cp "$work/src/LICENSE.txt" "$dest/" 2>/dev/null || true
echo "openssl $fetched for the host's $deb_version (libcrypto, ${options[*]}), built $(date -u +%FT%TZ) in $(( $(date +%s) - start ))s" > "$stamp"
step "done: $dest"
echo "$dest"

#!/usr/bin/env bash
# scripts/deps.sh on the archive's bad day, replayed by stubs on PATH: the
# i386 security index out of step ("File has unexpected size"), so every
# update fails and libwine:i386 cannot be installed; its Windows DLLs must
# still land where the search looks, and a second run must do nothing.
#   deps_test.sh path/to/deps.sh
set -euo pipefail
deps=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stubs=$work/bin root=$work/root log=$work/calls
mkdir -p "$stubs" "$root"
fail() { echo "FAIL: $*" >&2; echo "--- calls:" >&2; cat "$log" >&2 || true; exit 1; }

# A libwine:i386 package with one Windows DLL, made by the real dpkg-deb.
pkg=$work/pkg
mkdir -p "$pkg/DEBIAN" "$pkg/usr/lib/i386-linux-gnu/wine/i386-windows"
printf 'MZ stand-in\n' >"$pkg/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll"
printf 'Package: libwine\nVersion: 8.0~repack-4\nArchitecture: i386\nMaintainer: t <t@t>\nDescription: t\n' \
  >"$pkg/DEBIAN/control"
dpkg-deb --build -Zgzip "$pkg" "$work/libwine_8.0~repack-4_i386.deb" >/dev/null

stub() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$stubs/$1"; chmod +x "$stubs/$1"; }
stub apt-get "echo \"apt-get \$*\" >>'$log'
case \$1 in
  update) echo 'E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (102400 != 98304). Mirror sync in progress?' >&2; exit 100;;
  install) for a in \"\$@\"; do [ \"\$a\" = libwine:i386 ] && { echo 'E: Unable to correct problems, you have held broken packages.' >&2; exit 100; }; done
           for a in \"\$@\"; do touch '$work/installed-'\"\$a\"; done; exit 0;;
  download) [ \"\${STUB_DOWNLOAD:-good}\" = good ] && cp '$work/libwine_8.0~repack-4_i386.deb' . || { mkdir -p e/DEBIAN; printf 'Package: libwine\nVersion: 1\nArchitecture: i386\nMaintainer: t <t@t>\nDescription: t\n' >e/DEBIAN/control; dpkg-deb --build e libwine_1_i386.deb >/dev/null; }; exit 0;;
esac"
# Every package installed but one, and libwine:i386 missing.
stub dpkg-query "case \"\$*\" in
  *Version*) echo 8.0~repack-4;;
  *libwine:i386*) exit 1;;
  *python3-pefile*) [ -e '$work/installed-python3-pefile' ] && echo 'install ok installed' || exit 1;;
  *) echo 'install ok installed';;
esac"
stub dpkg "case \$1 in --print-foreign-architectures) echo i386;; *) echo \"dpkg \$*\" >>'$log';; esac"
stub sleep ":"
stub sudo "exec \"\$@\""

run() { TAVELIN_DEPS_ROOT=$root PATH=$stubs:$PATH bash "$deps" 2>"$work/err"; }
run || fail "deps.sh stopped: $(cat "$work/err")"
dll=$root/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll
[ -f "$dll" ] || fail "no $dll"
[ "$(grep -c '^apt-get update' "$log")" = 3 ] || fail "the update was not tried three times"
grep -q '^apt-get install .*python3-pefile' "$log" || fail "the missing package was not installed"
grep -q '^apt-get download .*libwine:i386=8.0~repack-4' "$log" || fail "not the 64-bit Wine's version"
grep -q 'going on with the indexes apt has' "$work/err" || fail "the failed update is not said"
grep -q 'unpacked libwine_8.0~repack-4_i386.deb' "$work/err" || fail "the unpacking is not said"
[ -z "$(ls -d "$root"/usr/lib/i386-linux-gnu/wine/*.tavelin-new 2>/dev/null)" ] || fail "staging folder left"

# Done once: the next run neither updates nor downloads.
: >"$log"
run || fail "second run failed"
grep -q 'update\|download' "$log" && fail "second run went to the archive again"

# A package without the DLLs: a failure, and nothing put in place.
rm -rf "$root"/usr
: >"$log"
if STUB_DOWNLOAD=empty run; then fail "a package without kernel32.dll passed"; fi
[ ! -e "$root/usr/lib/i386-linux-gnu/wine/i386-windows" ] || fail "a folder was put in place"
grep -q "no i386-windows/kernel32.dll" "$work/err" || fail "not the missing DLLs that stopped it: $(cat "$work/err")"
echo "deps.sh: ok"

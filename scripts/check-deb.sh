#!/usr/bin/env bash
# Builds the Debian package from a native build, checks it with lintian and
# desktop-file-validate, installs it, checks the installed programs and plugin
# with hardening-check, and runs the installed programs: the report's
# --version and the window, under Xvfb, until its window is up.
#   scripts/check-deb.sh [BUILD_DIR]   (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out="$build/package"
rm -rf "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" >"$build/cpack.log" 2>&1 || { cat "$build/cpack.log"; exit 1; }
debs=("$out"/tavelin_*_amd64.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "expected one tavelin_*_amd64.deb in $out"; exit 1; }
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
echo "package: $deb ($(stat -c %s "$deb") bytes)"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
case ", $depends," in *", qt6-translations-l10n,"*) ;; *) echo "no dependency on qt6-translations-l10n"; exit 1;; esac
reported=$("$build/bin/tavelin-report" --version)
[ "$reported" = "tavelin-report $version" ] || { echo "version mismatch: $reported, package $version"; exit 1; }
[ "$(basename "$deb")" = "tavelin_${version}_amd64.deb" ] || { echo "unexpected name $(basename "$deb")"; exit 1; }

# lintian: errors fail; warnings and notes are shown.
lint=0
lintian --fail-on error --display-info "$deb" >"$out/lintian.log" 2>&1 || lint=$?
grep -v '^running with root privileges' "$out/lintian.log" || true
[ $lint -eq 0 ] || { echo "lintian found errors"; exit 1; }
echo "lintian: no error"

tree="$out/tree"
dpkg-deb -x "$deb" "$tree"
desktop-file-validate "$tree/usr/share/applications/tavelin.desktop"

# Installed into the machine when allowed; else the unpacked tree stands in.
root=
if [ "$(id -u)" -eq 0 ]; then
  dpkg -i "$deb" >/dev/null
elif sudo -n true 2>/dev/null; then
  sudo dpkg -i "$deb" >/dev/null
else
  echo "not root and no sudo: running the programs from the unpacked package instead of installing it"
  root=$tree
fi
if [ -z "$root" ]; then
  [ "$(dpkg-query -W -f='${Version}' tavelin)" = "$version" ] || { echo "dpkg did not install $version"; exit 1; }
  echo "installed: tavelin $version"
fi
where=${root:+unpacked}
where=${where:-installed}
[ "$("$root/usr/bin/tavelin-report" --version)" = "tavelin-report $version" ] || { echo "$where --version differs"; exit 1; }
echo "$where tavelin-report --version: tavelin-report $version"

# Hardened as Debian packages are: hardening-check finds every protection in
# both programs and in the Designer plugin (a shared object: no PIE
# executable to check there).
plugins=()
while IFS= read -r so; do plugins+=("$root/${so#"$tree"/}"); done < <(find "$tree" -path '*/plugins/designer/*.so')
[ ${#plugins[@]} -eq 1 ] || { echo "expected one Designer plugin in the package, found ${#plugins[@]}"; exit 1; }
hardened=0
hardening-check "$root/usr/bin/tavelin" "$root/usr/bin/tavelin-report" || hardened=1
hardening-check --nopie "${plugins[0]}" || hardened=1
[ $hardened -eq 0 ] || { echo "hardening-check found a protection missing"; exit 1; }
echo "hardening-check: $where programs and plugin hardened"

# The installed window, once: up and mapped on a headless X server, then
# stopped. Its own settings go to a scratch folder.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cat >"$scratch/window.sh" <<'EOF'
set -u
program=$1 shot=$2
XDG_CONFIG_HOME=$3 QT_QPA_PLATFORM=xcb "$program" >"$3/window.log" 2>&1 &
pid=$!
for _ in $(seq 100); do
  # xwininfo prints a title it cannot convert to the locale's charset as a
  # failure: the accented title needs a UTF-8 locale, whatever the caller's.
  id=$(LC_ALL=C.UTF-8 xwininfo -root -tree 2>/dev/null | grep -F '"Tavelin, un utilitaire' | awk '{print $1}' | head -n 1)
  if [ -n "$id" ] && xwininfo -id "$id" | grep -q 'Map State: IsViewable'; then
    sleep 1
    import -window root "$shot" 2>/dev/null || true
    kill -0 "$pid" 2>/dev/null || { echo "the window went away"; exit 1; }
    kill "$pid"; wait "$pid" 2>/dev/null
    echo "the window: up and shown (screenshot $shot)"
    exit 0
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.2
done
echo "the window did not show"; cat "$3/window.log"; kill "$pid" 2>/dev/null
exit 1
EOF
xvfb-run -a -s "-screen 0 1024x768x24" bash "$scratch/window.sh" "$root/usr/bin/tavelin" \
  "$PWD/$out/installed-window.png" "$scratch"

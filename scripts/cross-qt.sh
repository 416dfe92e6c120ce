#!/usr/bin/env bash
# Builds Qt for the MinGW-w64 cross compiler (x86_64-w64-mingw32, posix threads)
# from the Debian source package of the host's own Qt, so the host's moc/rcc/uic
# serve the cross build. Installs into
#   ${XDG_CACHE_HOME:-~/.cache}/tavelin/qt6-mingw64/<qt version>-gcc<gcc version>-posix
# and does nothing when that folder is already complete.
# Prints the install prefix as its last line.
#   --cached   print the install folder and succeed when it is complete; build nothing
#   TAVELIN_QT_JOBS  parallel jobs (default: nproc)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
target=x86_64-w64-mingw32
cxx=$target-g++-posix

# shellcheck source=scripts/debsrc.sh
. "$repo/scripts/debsrc.sh"
qt_deb_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null) \
  || { echo "cross-qt: the host Qt tools (qt6-base-dev-tools) are not installed" >&2; exit 1; }
qt_version=$(pkg_upstream qt6-base-dev-tools)
gcc_version=$(pkg_upstream gcc-mingw-w64-x86-64-posix || $cxx -dumpfullversion)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/tavelin/qt6-mingw64
prefix=$cache/$qt_version-gcc$gcc_version-posix
stamp=$prefix/.tavelin-complete

# Qt's French for the cross Qt's own dialogs: the .qm files are the same on
# every system, so the host's (qt6-translations-l10n) serve; a prefix built
# before this step gets it too.
add_translations() {
  local qm=/usr/share/qt6/translations/qtbase_fr.qm
  if [ -f "$qm" ] && [ ! -f "$prefix/translations/qtbase_fr.qm" ]; then
    mkdir -p "$prefix/translations" && cp "$qm" "$prefix/translations/"
  fi
}
if [ "${1:-}" = --cached ]; then echo "$prefix"; [ -f "$stamp" ] && add_translations; [ -f "$stamp" ]; exit; fi
if [ -f "$stamp" ]; then
  add_translations
  echo "cross-qt: Qt $qt_version for $target already built, nothing to do"
  echo "$prefix"
  exit 0
fi

command -v "$cxx" >/dev/null || { echo "cross-qt: $cxx not found (package g++-mingw-w64-x86-64-posix)" >&2; exit 1; }
for tool in dpkg-source perl cmake ninja; do
  command -v $tool >/dev/null || { echo "cross-qt: $tool not found" >&2; exit 1; }
done

start=$(date +%s)
step() { echo "cross-qt [$(( $(date +%s) - start ))s]: $*"; }
work=$cache/work-$qt_version
mkdir -p "$work"

# The source package, through a private deb-src configuration (scripts/debsrc.sh).
apt_dir=$work/apt
debsrc_setup "$apt_dir"

src=$work/qt6-base-$qt_version
if [ ! -f "$src/.unpacked" ]; then
  step "fetching and unpacking source package qt6-base $qt_deb_version (deb-src of: $(awk '{print $4}' "$apt_dir/sources.list" | tr '\n' ' '))"
  debsrc_fetch "$apt_dir" qt6-base "$qt_deb_version" "$qt_version" "$src"
  touch "$src/.unpacked"
fi

# Only what the window uses: Core, Gui, Widgets, PrintSupport, and Test for the
# suites; the Designer plugin is not built for Windows (Designer lives in
# qttools). Drag and drop needs the XPM reader (its cursors), and printing the
# DirectWrite font engine, which Qt 6.4 builds only with Direct2D: both stay.
# Debian's source leaves out the Wintab header (its licence forbids changes):
# no tablet events. Bundled zlib, libpng, FreeType, HarfBuzz and PCRE2 go into
# the Qt DLLs rather than DLLs of their own.
features_off=(
  opengl vulkan egl dbus network sql xml concurrent
  jpeg gif zstd icu glib pkg_config tabletevent
  system_zlib system_png system_freetype system_harfbuzz system_pcre2 system_doubleconversion
  textodfwriter sessionmanager
)
conf=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake"
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix"
      -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
      -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
      -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF -DINPUT_opengl=no
      -DFEATURE_widgets=ON -DFEATURE_printsupport=ON -DFEATURE_testlib=ON)
for f in "${features_off[@]}"; do conf+=("-DFEATURE_$f=OFF"); done

build=$work/build
# An interrupted build with the same options goes on where it stopped.
options=$(printf '%s\n' "${conf[@]}")
if [ -f "$build/CMakeCache.txt" ] && [ "$(cat "$build/.tavelin-options" 2>/dev/null)" = "$options" ]; then
  step "resuming the build in $build"
else
  step "configuring Qt $qt_version for $target ($cxx $gcc_version) into $prefix"
  printf '  %s\n' "${conf[@]}"
  rm -rf "$build"
  cmake -S "$src" -B "$build" "${conf[@]}" > "$work/configure.log" 2>&1 \
    || { tail -n 60 "$work/configure.log"; echo "cross-qt: configure failed, see $work/configure.log" >&2; exit 1; }
  echo "$options" > "$build/.tavelin-options"
  grep -E '^  Qt [A-Za-z]+ \.' "$build/config.summary" | sed 's/^/ /' || true
fi

step "building (-j${TAVELIN_QT_JOBS:-$(nproc)}), log in $work/build.log"
cmake --build "$build" -j "${TAVELIN_QT_JOBS:-$(nproc)}" > "$work/build.log" 2>&1 \
  || { tail -n 60 "$work/build.log"; echo "cross-qt: build failed, see $work/build.log" >&2; exit 1; }

step "installing into $prefix"
rm -rf "$prefix"
cmake --install "$build" --strip > "$work/install.log" 2>&1 \
  || { tail -n 30 "$work/install.log"; echo "cross-qt: install failed" >&2; exit 1; }
# Qt's own toolchain file chains to ours: keep a copy with the Qt it built.
cp "$repo/cmake/mingw-w64-x86_64.cmake" "$prefix/lib/cmake/tavelin-mingw-w64-x86_64.cmake"
grep -rlF "$repo/cmake/mingw-w64-x86_64.cmake" "$prefix" | while read -r f; do
  sed -i "s|$repo/cmake/mingw-w64-x86_64.cmake|$prefix/lib/cmake/tavelin-mingw-w64-x86_64.cmake|g" "$f"
done
add_translations
echo "qt6-base $qt_deb_version, $cxx $gcc_version, built $(date -u +%FT%TZ)" > "$stamp"
rm -rf "$build" "$src"
step "done, $(du -sh "$prefix" | cut -f1) in $prefix"
echo "$prefix"

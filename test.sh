#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the native suites,
# the Debian package (lintian, installed, its programs run), the same suites
# under AddressSanitizer+UndefinedBehaviorSanitizer, the mail tests under
# ThreadSanitizer, the Windows build's suites and its zip under Wine, and a
# short run of each fuzz target.
#   FUZZ_SECONDS   seconds per fuzz target (default 20)
#   SKIP_PACKAGE=1, SKIP_ASAN=1, SKIP_TSAN=1, SKIP_WIN=1, SKIP_FUZZ=1   leave out a stage (local use)
#   TAVELIN_CROSS_QT=1   build Qt for MinGW-w64 first (scripts/cross-qt.sh) when it is
#                        not cached, so the Windows window stage runs
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
status=0
failed=()
stage() { echo; echo "=== $* ==="; }
# A failing step is named again at the end, where a short log still shows it.
fail() {
  local what=$1
  # ctest keeps the names of the tests that failed: they go with the stage.
  if [ -n "${2:-}" ] && [ -s "$2/Testing/Temporary/LastTestsFailed.log" ]; then
    what+=": $(head -n 20 "$2/Testing/Temporary/LastTestsFailed.log" | tr '\n' ' ')"
  fi
  status=1; failed+=("$what")
}

stage "native build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVELIN_WERROR=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" || fail "native tests" build

if [ "${SKIP_PACKAGE:-0}" != 1 ]; then
  stage "Debian package: lintian, install, installed programs"
  scripts/check-deb.sh build || fail "Debian package"
fi

if [ "${SKIP_ASAN:-0}" != 1 ]; then
  stage "sanitizer build (ASan+UBSan) and tests"
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVELIN_WERROR=ON -DTAVELIN_SANITIZE=ON \
        -DTAVELIN_BENCH=OFF >/dev/null
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs" || fail "ASan+UBSan tests" build-asan
fi

if [ "${SKIP_TSAN:-0}" != 1 ]; then
  stage "mail tests under ThreadSanitizer"
  scripts/tsan-mail.sh build-tsan || fail "TSan mail tests"
fi

if [ "${SKIP_WIN:-0}" != 1 ]; then
  stage "Windows build (MinGW-w64) and tests under Wine"
  export WINEPREFIX="$PWD/build-win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # Wine spells Windows names in the locale's charset: the suites' accented
  # names need a UTF-8 one, whatever the caller's (a runner may have no LANG).
  if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then export LC_ALL=C.UTF-8; fi
  cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
        -DCMAKE_BUILD_TYPE=Release -DTAVELIN_WERROR=ON >/dev/null
  cmake --build build-win -j "$jobs"
  [ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1 || true
  ctest --test-dir build-win --output-on-failure -j 1 || fail "Windows tests under Wine" build-win
  scripts/check-win-zip.sh build-win || fail "Windows zip"
  wineserver -k 2>/dev/null || true

  if [ "${TAVELIN_CROSS_QT:-0}" = 1 ] && ! scripts/cross-qt.sh --cached >/dev/null; then
    stage "Qt for MinGW-w64 (scripts/cross-qt.sh)"
    scripts/cross-qt.sh || fail "Qt for MinGW-w64"
  fi
  if qt_win=$(scripts/cross-qt.sh --cached); then
    stage "Windows window (Qt for MinGW-w64), its suites and the zip under Wine"
    export WINEPREFIX="$PWD/build-winqt/wineprefix"
    cmake -S . -B build-winqt -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
          -DCMAKE_PREFIX_PATH="$qt_win" -DCMAKE_BUILD_TYPE=Release -DTAVELIN_WERROR=ON >/dev/null
    cmake --build build-winqt -j "$jobs"
    [ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1 || true
    ctest --test-dir build-winqt --output-on-failure -j 1 -L window || fail "Windows window tests under Wine" build-winqt
    wineserver -k 2>/dev/null || true
  else
    echo; echo "Windows window stage skipped: no Qt for MinGW-w64 in $qt_win (scripts/cross-qt.sh or TAVELIN_CROSS_QT=1 ./test.sh builds it)"
  fi
fi

if [ "${SKIP_FUZZ:-0}" != 1 ]; then
  stage "fuzz targets (libFuzzer, ASan+UBSan), ${FUZZ_SECONDS:-20} s each"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVELIN_FUZZ=ON \
        -DTAVELIN_GUI=OFF -DTAVELIN_TESTS=OFF -DTAVELIN_BENCH=OFF >/dev/null
  cmake --build build-fuzz -j "$jobs"
  mkdir -p build-fuzz/seeds
  build-fuzz/bin/fuzz_make_seeds build-fuzz/seeds
  fuzz/signed_seeds.sh build-fuzz/seeds
  for target in fuzz_imports fuzz_version fuzz_apiset fuzz_dotnet fuzz_manifest fuzz_loadconfig fuzz_authenticode \
                fuzz_dotnet_json fuzz_bundle fuzz_release; do
    corpus="build-fuzz/corpus-$target"
    mkdir -p "$corpus"
    if build-fuzz/bin/$target -max_total_time="${FUZZ_SECONDS:-20}" -print_final_stats=1 \
        "$corpus" build-fuzz/seeds > "build-fuzz/$target.log" 2>&1; then
      grep -E 'stat::number_of_executed_units|stat::peak_rss' "build-fuzz/$target.log" | sed "s/^/$target: /"
    else
      tail -n 40 "build-fuzz/$target.log"; fail "$target"
    fi
  done
fi

echo
if [ $status -eq 0 ]; then echo "ALL TEST STAGES PASSED"; else
  echo "SOME TEST STAGE FAILED:"; printf '  %s\n' "${failed[@]}"
fi
exit $status

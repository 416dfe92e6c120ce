#!/usr/bin/env bash
# Builds the mail tests (the layer, the label and its worker threads, a
# worker outliving the application) with ThreadSanitizer and runs them.
# Usage: scripts/tsan-mail.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-tsan}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVELIN_WERROR=ON -DTAVELIN_BENCH=OFF -DTAVELIN_HARDENING=OFF \
      -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
      -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build "$dir" -j "$(nproc)" --target test_mail msglabel_tests mail_exit_tests
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp ${TSAN_OPTIONS:-}"
status=0
for t in test_mail msglabel_tests mail_exit_tests; do
  "$dir/bin/$t" --gtest_brief=1 || status=1
done
exit $status

#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tavelin.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
if [ -x build/bin/tavelin ]; then
  exec build/bin/tavelin "$@"
else
  exec build/bin/tavelin-report --help
fi

#!/bin/sh
# Fetches, once, the real material of the release checks' tests from the npm
# registry into ${XDG_CACHE_HOME:-~/.cache}/tavelin/npm/<name>-<version>/:
# the CycloneDX project's own schema files (its JavaScript library ships
# them), two releases each of two packages of Windows binaries, and a
# package shipping binaries Microsoft signed beside unsigned ones. Offline,
# or without npm, nothing is fetched and the tests that need it say so.
set -u
cache=${XDG_CACHE_HOME:-$HOME/.cache}/tavelin/npm
mkdir -p "$cache" || exit 0
command -v npm >/dev/null 2>&1 || { echo "release material: no npm, nothing fetched"; exit 0; }
for spec in @cyclonedx/cyclonedx-library@10.3.0 7zip-bin@5.1.1 7zip-bin@5.2.0 \
            @img/sharp-win32-x64@0.33.5 @img/sharp-win32-x64@0.34.1 node-pty@1.1.0; do
  name=${spec%@*}
  dir="$cache/$(echo "${name#@}" | tr / -)-${spec##*@}"
  [ -d "$dir/package" ] && continue
  work=$(mktemp -d "$cache/.fetch.XXXXXX") || continue
  if (cd "$work" && npm pack --silent "$spec" >/dev/null 2>&1) && tar -xzf "$work"/*.tgz -C "$work" 2>/dev/null; then
    rm -rf "$dir" && mkdir -p "$dir" && mv "$work/package" "$dir/package" && echo "release material: $spec"
  else
    echo "release material: cannot fetch $spec"
  fi
  rm -rf "$work"
done
exit 0

#!/usr/bin/env bash
# Unpacks the Windows zip of tavelin-report from a cross build into an empty
# folder and runs what it holds under Wine, on one of Wine's own programs.
#   scripts/check-win-zip.sh [BUILD_DIR]   (default build-win; WINEPREFIX as the caller set it)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win}
zips=("$build"/tavelin-report-*-win64.zip)
[ ${#zips[@]} -eq 1 ] && [ -f "${zips[0]}" ] || { echo "expected one tavelin-report-*-win64.zip in $build"; exit 1; }
zip=$PWD/${zips[0]}
name=$(basename "$zip" .zip)
version=${name#tavelin-report-}
version=${version%-win64}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$scratch" && cmake -E tar xf "$zip")
contents=$(cd "$scratch" && find . -type f | sort | tr '\n' ' ')
[ "$contents" = "./$name/tavelin-report.exe ./$name/tavelin-report.txt " ] || { echo "zip holds: $contents"; exit 1; }
echo "zip: $(basename "$zip") ($(stat -c %s "$zip") bytes): $contents"
page="$scratch/$name/tavelin-report.txt"
grep -q $'^TAVELIN-REPORT(1).*\r$' "$page" && grep -q -- '--missing' "$page" ||
  { echo "the manual page text is not there or not in CR LF lines"; exit 1; }

cd "$scratch/$name"
got=$(wine tavelin-report.exe --version | tr -d '\r')
[ "$got" = "tavelin-report $version" ] || { echo "--version under Wine: $got"; exit 1; }
wine_dir=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
target="Z:${wine_dir//\//\\}\\notepad.exe"
status=0
report=$(wine tavelin-report.exe -r "$target" | tr -d '\r') || status=$?
[ $status -le 1 ] && grep -q '^toi-même            : notepad.exe' <<<"$report" ||
  { echo "report under Wine (status $status):"; echo "$report" | head -n 20; exit 1; }
echo "under Wine: $got; notepad.exe -r: $(wc -l <<<"$report") lines, status $status"

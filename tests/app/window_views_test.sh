#!/usr/bin/env bash
# The new views of the real window under a real window manager (openbox on
# Xvfb, 1400x800), driven by keys as a user drives them, on Wine's
# notepad.exe and MinGW C++ programs built here (one of them missing a DLL
# it was linked with): "Imports" with its columns, "Problèmes seulement",
# "Livrer…", "Arbre", "Pourquoi ?", "Dossiers…" with its accepted DLLs,
# "Exporter…". Each view is saved as a PNG in SHOTS and checked to be shown.
#   window_views_test.sh TAVELIN SHOTS
# Exits 77 (skipped) when a tool it needs is missing.
set -euo pipefail
program=$(realpath "$1")
mkdir -p "$2"
shots=$(realpath "$2")
notepad=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/notepad.exe

if [ "${3:-}" != --inner ]; then
  for tool in xvfb-run openbox xdotool import x86_64-w64-mingw32-g++-posix; do
    command -v "$tool" >/dev/null || { echo "$tool missing: skipped (scripts/deps.sh installs it)"; exit 77; }
  done
  [ -f "$notepad" ] || { echo "$notepad missing: skipped"; exit 77; }
  exec xvfb-run -a -s "-screen 0 1400x800x24" bash "$0" "$program" "$shots" --inner
fi

scratch=$(mktemp -d)
wm= pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  if [ -n "$wm" ]; then kill "$wm" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$scratch"/*.log 2>/dev/null || true; exit 1; }

# The programs: a C++ one with threads (libstdc++, libgcc, winpthread beside
# it in the toolchain's folders), and one whose own DLL was not shipped.
cd "$scratch"
printf '#include <iostream>\n#include <thread>\nint main() { std::thread t([] { std::cout << "bonjour\\n"; }); t.join(); }\n' >hello.cpp
printf 'extern "C" __declspec(dllexport) int tvl_aide() { return 42; }\n' >aide.cpp
printf 'extern "C" int tvl_aide();\nint main() { return tvl_aide(); }\n' >outil.cpp
x86_64-w64-mingw32-g++-posix -O2 -o hello.exe hello.cpp
x86_64-w64-mingw32-g++-posix -O2 -shared -o libtvlaide.dll aide.cpp
x86_64-w64-mingw32-g++-posix -O2 -o outil.exe outil.cpp libtvlaide.dll
rm libtvlaide.dll
cp "$notepad" notepad.exe

export XDG_CONFIG_HOME=$scratch/config QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_CONFIG_HOME/tavelin"
params='"State"=dword:00000000
"Top"=dword:00000000
"Left"=dword:00000000
"Width"=dword:00000578
"Height"=dword:00000320
"Adresse"=""
"Unique"=dword:00000000
"Recursif"=dword:00000001
"Fonctions"=dword:00000000
"Differes"=dword:00000000
"Dossiers"=""
"Assemblages"=dword:00000000
"Windows"=""
"Acceptees"="node.exe"
"Seulement"=dword:00000000'
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\n"0"="%s"\n"1"="%s"\n"2"="%s"\n\n[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin\\Params]\n%s\n' \
  "$scratch/hello.exe" "$scratch/outil.exe" "$scratch/notepad.exe" "$params" >"$XDG_CONFIG_HOME/tavelin/user.reg"

openbox >"$scratch/openbox.log" 2>&1 &
wm=$!
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
"$program" >"$scratch/tavelin.log" 2>&1 &
pid=$!
id=
for _ in $(seq 150); do
  kill -0 "$pid" 2>/dev/null || fail "the program ended"
  id=$(xdotool search --onlyvisible --pid "$pid" --name '^Tavelin, un utilitaire' 2>/dev/null | head -n 1 || true)
  [ -n "$id" ] && break
  sleep 0.2
done
[ -n "$id" ] || fail "no window within 30 s"
sleep 1
xdotool windowactivate --sync "$id" >/dev/null

key() { xdotool key --clearmodifiers "$@"; sleep 1; }
# Tab N (0 for "Exécutables"): from the list of executables, back along the
# keyboard order to the tabs, whose arrows choose the page.
goto_tab() {
  xdotool mousemove 40 32 click 1; sleep 0.3
  xdotool mousemove 700 400 click 1; sleep 0.3
  xdotool key --clearmodifiers --delay 100 shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab
  local i
  for ((i = 0; i < $1; i++)); do xdotool key --clearmodifiers Right; sleep 0.3; done
  sleep 1
}
last=
shot() {
  import -window root "$shots/$1.png"
  local sum
  sum=$(md5sum <"$shots/$1.png")
  [ "$sum" != "$last" ] || fail "$1: the screen did not change"
  last=$sum
}
# A dialog of the program, by its title, shown.
shown() {
  for _ in $(seq 25); do
    xdotool search --onlyvisible --pid "$pid" --name "$1" >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  fail "no window '$1'"
}

shot executables
goto_tab 1
shot imports
key alt+p
shot problemes
key alt+p
key alt+l
shown '^Livrer$'
shot livrer
key Escape
goto_tab 3
shot arbre
# libstdc++-6.dll under hello.exe, opened, then the DLL it shares with libgcc.
xdotool mousemove 700 600 click 1; sleep 0.3
key Home
xdotool type --delay 80 libs; sleep 0.5
key Right Down Down Down Down
key p
shown '^Pourquoi .* \?$'
shot pourquoi
key Escape
goto_tab 0
# From the list, back to "Dossiers…" (after "Différés" and "Assemblages").
xdotool mousemove 700 400 click 1; sleep 0.3
key shift+Tab shift+Tab shift+Tab space
shown '^Dossiers de recherche$'
shot dossiers
key Escape
goto_tab 2
key alt+x
shown '^Exporter les lignes$'
shot exporter
key Escape
echo "views: $(ls "$shots" | tr '\n' ' ')"

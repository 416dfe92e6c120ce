#!/usr/bin/env bash
# The real window under a real window manager (openbox on Xvfb): what a
# close stores is the frame the user saw, and the next start shows that same
# frame again, for the designed bounds and for bounds the user changed.
#   window_frame_test.sh TAVELIN [SCREENSHOT]
# Exits 77 (skipped) when a tool it needs is missing.
set -euo pipefail
program=$1
shot=${2:-}

if [ "${1:-}" != --inner ]; then
  for tool in xvfb-run openbox xdotool xprop xwininfo; do
    command -v "$tool" >/dev/null || { echo "$tool missing: skipped (scripts/deps.sh installs it)"; exit 77; }
  done
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  status=0
  xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --inner "$program" "$scratch" "$shot" || status=$?
  exit $status
fi

program=$2 scratch=$3 shot=$4
export XDG_CONFIG_HOME=$scratch/config QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_CONFIG_HOME"
store=$XDG_CONFIG_HOME/tavelin/user.reg
openbox >"$scratch/openbox.log" 2>&1 &
wm=$!
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null; fi
  kill "$wm" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; for f in "$scratch"/*.log; do echo "--- $f"; cat "$f"; done; exit 1; }

# The window manager is up once it has said so on the root window.
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id' || fail "openbox did not start"

# Outer bounds "left top width height" of a window: its client area and the
# frame extents the window manager published (left, right, top, bottom).
frame() {
  local info extents
  info=$(xwininfo -id "$1") || return 1
  extents=$(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p' | tr -d ' ')
  [ -n "$extents" ] || return 1
  local x y w h l r t b
  x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
  y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
  w=$(sed -n 's/.*Width: *//p' <<<"$info")
  h=$(sed -n 's/.*Height: *//p' <<<"$info")
  IFS=, read -r l r t b <<<"$extents"
  echo "$((x - l)) $((y - t)) $((w + l + r)) $((h + t + b))"
}

# Starts the program and waits until its window is framed, mapped and still.
start() {
  "$program" >"$scratch/run$1.log" 2>&1 &
  pid=$!
  id= last= same=0
  for _ in $(seq 150); do
    kill -0 "$pid" 2>/dev/null || fail "run $1: the program ended"
    [ -n "$id" ] || id=$(xdotool search --onlyvisible --pid "$pid" --name '^Tavelin, un utilitaire' 2>/dev/null | head -n 1 || true)
    if [ -n "$id" ] && now=$(frame "$id" 2>/dev/null); then
      if [ "$now" = "$last" ]; then same=$((same + 1)); else same=0; last=$now; fi
      [ $same -ge 5 ] && return 0
    fi
    sleep 0.2
  done
  fail "run $1: no still, framed window within 30 s (last seen: ${last:-none})"
}

# Closes the window as a user does (Alt+F4 through the window manager).
stop() {
  timeout 10 xdotool windowactivate --sync "$id" key --clearmodifiers alt+F4 || true
  for _ in $(seq 75); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" || true; pid=; return 0; }
    sleep 0.2
  done
  fail "run $1: the window did not close"
}

stored() {
  local v
  for v in Left Top Width Height; do
    sed -n "s/^\"$v\"=dword:\([0-9a-f]*\).*/\1/p" "$store" | { read -r hex; echo $((16#${hex:-x})); }
  done | tr '\n' ' ' | sed 's/ $//'
}

# A fresh store: the designed place (frame at 107, 94) and client area.
mkdir -p "$(dirname "$store")"
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Morvane Soft\\Tavelin]\n"0"="/bin/true"\n' >"$store"
start 1
first=$(frame "$id")
client=$(xwininfo -id "$id" | sed -n 's/.*\(Width\|Height\): *//p' | tr '\n' ' ' | sed 's/ $//')
read -r fx fy _ <<<"$first"
[ "$fx $fy" = "107 94" ] || fail "run 1: frame at $fx, $fy, designed at 107, 94"
[ "$client" = "610 389" ] || fail "run 1: client area $client, designed 610 389"
[ -z "$shot" ] || import -window root "$shot" 2>/dev/null || true
stop 1
[ "$(stored)" = "$first" ] || fail "run 1 stored $(stored), its frame was $first"

start 2
second=$(frame "$id")
[ "$second" = "$first" ] || fail "run 2: frame $second, run 1 had $first"
# The user moves and enlarges it.
timeout 10 xdotool windowmove --sync "$id" 230 160 && timeout 10 xdotool windowsize --sync "$id" 700 450 ||
  fail "could not move the window"
sleep 1
moved=$(frame "$id")
[ "$moved" != "$second" ] || fail "run 2: the window did not move"
stop 2
[ "$(stored)" = "$moved" ] || fail "run 2 stored $(stored), its frame was $moved"

start 3
third=$(frame "$id")
[ "$third" = "$moved" ] || fail "run 3: frame $third, run 2 closed with $moved"
stop 3
[ "$(stored)" = "$moved" ] || fail "run 3 stored $(stored), its frame was $moved"
echo "frames: designed $first, moved $moved, kept over three runs"

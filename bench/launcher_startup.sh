#!/usr/bin/env bash
# Start-up of the launcher window as a player sees it, timed from the
# kernel's start time of the process (so exec and library loading count):
#   startup-frame  the window's first frame on the screen, and its mean
#                  luminance (0..255; the page's background colour is about 9)
#   first-frame    the first painted frame of the loaded page
#   tiles-frame    the first painted frame that shows the server tiles, as
#                  the page's own check sees it (it waits for the page to
#                  finish loading and two animation frames, so it is late)
#   tiles-drawn    the first frame the window drew after the page put the
#                  tiles in: the moment a player sees them
# and the CPU time of the launcher with its page-engine processes. The test
# build of the launcher runs on a private Xvfb display in a fresh program
# folder with two catalog entries (one installed); the news feeds point at
# the unreachable placeholder site. Nothing is built here.
#
#   bash bench/launcher_startup.sh [RUNS]      RUNS default 6
#
# Environment: BUILD_DIR (default build).
set -euo pipefail

RUNS=${1:-6}
REPO=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$REPO/build}
LAUNCHER=$BUILD_DIR/launcher/launcher_empty_catalog
[ -x "$LAUNCHER" ] || { echo "launcher_startup.sh: $LAUNCHER is missing (build it first)" >&2; exit 1; }
for tool in xvfb-run /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "launcher_startup.sh: $tool is missing" >&2; exit 1; }
done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/prog" "$WORK/client"
cp "$LAUNCHER" "$WORK/prog/launcher"
printf 'KaltrisNexum-2.5.1\n' > "$WORK/client/_version._"
echo MZ > "$WORK/client/kaltrisclient.exe"
cat > "$WORK/prog/customlist.json" <<JSON
{"servers":[{"name":"mine","desc":"My Server","server":"aurum","patchBaseUrl":"http://127.0.0.1:9/","launchExecutable":"kaltrisclient.exe","installPath":"$WORK/client"},
 {"name":"other","desc":"Other","server":"missing","patchBaseUrl":"http://127.0.0.1:9/","launchExecutable":"kaltrisclient.exe"}]}
JSON
echo 'return document.querySelectorAll("#server-list .server-tile").length;' > "$WORK/steps.js"

echo "run startup-frame-ms luminance first-frame-ms tiles-frame-ms tiles-drawn-ms cpu-s load-1min"
cd "$WORK/prog"
for run in $(seq "$RUNS"); do
  out=$(xvfb-run -a -s "-screen 0 1280x800x24" /usr/bin/time -f "cpu %U %S" env GDK_BACKEND=x11 \
        ./launcher --skip-self-update --test-answer-dialogs --test-script "$WORK/steps.js" \
        --test-startup-frame "$WORK/frame.png" 2>&1)
  get() { printf '%s\n' "$out" | awk -v key="$1" '$1 == "test:" && $2 == key { print $3 }'; }
  shown=$(printf '%s\n' "$out" | awk '$2 == "startup-frame-luminance" { print $5 }')
  cpu=$(printf '%s\n' "$out" | awk '$1 == "cpu" { printf "%.2f", $2 + $3 }')
  echo "$run $shown $(get startup-frame-luminance) $(get first-frame-ms) $(get tiles-frame-ms) $(get tiles-drawn-ms) $cpu $(cut -d' ' -f1 /proc/loadavg)"
done

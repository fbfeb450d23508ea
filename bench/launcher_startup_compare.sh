#!/usr/bin/env bash
# Start-up of two launcher builds side by side: ROUNDS rounds, each starting
# one run of every build in turn (bench/launcher_startup.sh 1), so that a
# change in the machine's load falls on both alike. Prints, per build, the
# median and every run of the window's first frame and of tiles-drawn (ms
# from process start; see launcher_startup.sh).
#
#   bash bench/launcher_startup_compare.sh BUILD_DIR_A BUILD_DIR_B [ROUNDS]   ROUNDS default 10
set -euo pipefail

[ $# -ge 2 ] || { echo "usage: $0 BUILD_DIR_A BUILD_DIR_B [ROUNDS]" >&2; exit 2; }
HERE=$(cd "$(dirname "$0")" && pwd)
BUILDS=("$1" "$2")
ROUNDS=${3:-10}

declare -A frames tiles
for _ in $(seq "$ROUNDS"); do
  for build in "${BUILDS[@]}"; do
    out=$(BUILD_DIR=$build bash "$HERE/launcher_startup.sh" 1)
    # Columns by the header's names: the first line names them.
    read -r frame drawn < <(printf '%s\n' "$out" | awk '
      NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
      { print $col["startup-frame-ms"], $col["tiles-drawn-ms"] }')
    frames[$build]+="$frame "
    tiles[$build]+="$drawn "
  done
done

median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
for build in "${BUILDS[@]}"; do
  echo "$build"
  echo "  first frame: median $(median <<<"${frames[$build]}") ms  [${frames[$build]% }]"
  echo "  tiles drawn: median $(median <<<"${tiles[$build]}") ms  [${tiles[$build]% }]"
done

#!/usr/bin/env bash
# Resident memory of the launcher window across repeated installs.
#
# The launcher's test build (empty built-in catalog, test options) runs on a
# private Xvfb display against a loopback patch host serving a sample client.
# Its test hooks print the summed VmRSS of the launcher and its page-engine
# processes at start-up and once the scripted steps have run. Two kinds of run,
# each in a fresh program folder:
#   A  one install, then the reading;
#   B  one install, then Repair / Reinstall twice through the tile's server
#      menu (or, with LAUNCHER_MEM_MODE=entries, installs into three catalog
#      entries that share one host), then the reading.
# B - A is the memory the second and third installs left behind; the goal is
# that it stays within 64 MiB.
#
#   bash bench/launcher_memory.sh [SIZE]       SIZE of the sample client, default 256M
#
# Environment: BUILD_DIR (default build; its launcher/launcher_empty_catalog
# and tools are used as they are, nothing is built here), LAUNCHER_MEM_WORK
# (default /tmp/mendly-launcher-memory; needs about 4x SIZE of disk),
# LAUNCHER_MEM_REPEAT (pairs of runs, default 2; later pairs are skipped once
# the time budget is spent), LAUNCHER_MEM_MODE (reinstall or entries, default
# reinstall), LAUNCHER_MEM_INSTALL_S (longest wait for one install, default
# 150), LAUNCHER_MEM_BUDGET_S (no new pair starts after this many seconds,
# default 420), LAUNCHER_MEM_SETTLE_MS (idle time before the final reading,
# default 3000).
set -euo pipefail

SIZE=${1:-256M}
HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$REPO/build}
WORK=${LAUNCHER_MEM_WORK:-/tmp/mendly-launcher-memory}
REPEAT=${LAUNCHER_MEM_REPEAT:-2}
MODE=${LAUNCHER_MEM_MODE:-reinstall}
INSTALL_S=${LAUNCHER_MEM_INSTALL_S:-150}
BUDGET_S=${LAUNCHER_MEM_BUDGET_S:-420}
SETTLE_MS=${LAUNCHER_MEM_SETTLE_MS:-3000}
GOAL_MIB=64
SERVER=q

LAUNCHER=$BUILD_DIR/launcher/launcher_empty_catalog
GEN=$BUILD_DIR/tools/make_sample_client/make_sample_client
PUBLISH=$BUILD_DIR/tools/publish_patch/publish_patch
HOST=$BUILD_DIR/tools/patch_host/patch_host

case "$MODE" in reinstall | entries) ;; *) echo "launcher_memory.sh: LAUNCHER_MEM_MODE is reinstall or entries" >&2; exit 2 ;; esac
for exe in "$LAUNCHER" "$GEN" "$PUBLISH" "$HOST"; do
  [ -x "$exe" ] || { echo "launcher_memory.sh: $exe is missing (build it first)" >&2; exit 1; }
done
for tool in Xvfb timeout setsid ps awk; do
  command -v "$tool" >/dev/null || { echo "launcher_memory.sh: $tool is missing" >&2; exit 1; }
done

# Every process started in the background here, stopped on any exit. The
# launcher runs in a session of its own so that its page-engine processes go
# with it.
XVFB_PID=
HOST_PID=
LAUNCHER_PID=
SAMPLER_PID=
stop() { if [ -n "$2" ]; then kill "-$1" "$2" 2>/dev/null || true; wait "$2" 2>/dev/null || true; fi; }
stop_group() { if [ -n "$1" ]; then kill -KILL -- "-$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; fi; }
cleanup() {
  stop TERM "$SAMPLER_PID"
  stop_group "$LAUNCHER_PID"
  stop TERM "$HOST_PID"
  stop TERM "$XVFB_PID"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else if (NR) print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
loadavg() { cut -d' ' -f1-3 /proc/loadavg; }

rm -rf "$WORK"
mkdir -p "$WORK"
LOAD_BEFORE=$(loadavg)

# --- the sample client, published and served --------------------------------
"$GEN" --out "$WORK/client" --size "$SIZE" --seed 1 >"$WORK/generate.txt"
"$PUBLISH" --client "$WORK/client" --server "$SERVER" --root "$WORK/host" --force >"$WORK/publish.txt"
CLIENT_FILES=$(find "$WORK/client" -type f | wc -l)
CLIENT_BYTES=$(find "$WORK/client" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
EXE=kaltrisclient.exe
[ -f "$WORK/client/$EXE" ] || { echo "launcher_memory.sh: the sample client has no $EXE" >&2; exit 1; }

"$HOST" --root "$WORK/host" --bind 127.0.0.1 --port 0 >"$WORK/host.out" 2>"$WORK/host.err" &
HOST_PID=$!
for _ in $(seq 100); do [ -s "$WORK/host.out" ] && break; sleep 0.1; done
BASE=$(head -n1 "$WORK/host.out")
case "$BASE" in http://127.0.0.1:*) ;; *) echo "launcher_memory.sh: patch_host did not start: $(cat "$WORK/host.err")" >&2; exit 1 ;; esac

# --- a private display -------------------------------------------------------
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$WORK/display" 2>"$WORK/xvfb.err" &
XVFB_PID=$!
for _ in $(seq 200); do grep -q '^[0-9]' "$WORK/display" 2>/dev/null && break; sleep 0.1; done
DISPLAY_NUMBER=$(head -n1 "$WORK/display" 2>/dev/null || true)
[ -n "$DISPLAY_NUMBER" ] || { echo "launcher_memory.sh: Xvfb did not start: $(cat "$WORK/xvfb.err")" >&2; exit 1; }

# --- the page steps ----------------------------------------------------------
INSTALL_MS=$((INSTALL_S * 1000))
PRELUDE='const until = async (f, ms) => { const end = Date.now() + ms;
  while (Date.now() < end) { if (f()) return true; await new Promise(r => setTimeout(r, 100)); } return f(); };
const text = (s) => { const e = document.querySelector(s); return e ? e.textContent : null; };
const button = () => document.querySelector("#btn-play");
const idle = () => !button().classList.contains("busy");
const selectedCurrent = () => document.querySelector(".server-tile.selected .tile-status.current") !== null;
// Notes whether the play button went busy at any moment, however briefly.
const watchBusy = () => { const seen = { busy: false };
  const o = new MutationObserver(() => { if (button().classList.contains("busy")) seen.busy = true; });
  o.observe(button(), { attributes: true, subtree: true, childList: true, characterData: true });
  return seen; };'

# One install of the selected tile with the play button.
install_step() {
  cat <<EOF
$PRELUDE
const ready = await until(() => idle() && text("#btn-play-caption") === "Install" && !button().disabled, 60000);
if (!ready) return { ok: false, why: "no Install button", caption: text("#btn-play-caption") };
const seen = watchBusy();
const t0 = Date.now();
button().click();
const done = await until(() => seen.busy && idle() && text("#btn-play-caption") === "Launch" && selectedCurrent(), $INSTALL_MS);
return { ok: done, ms: Date.now() - t0, caption: text("#btn-play-caption"), status: text("#task-status-label") };
EOF
}

# Repair / Reinstall of the selected tile through its server menu; the
# question is answered Yes by --test-answer-yes.
reinstall_step() {
  cat <<EOF
$PRELUDE
const ready = await until(() => idle() && text("#btn-play-caption") === "Launch", 60000);
if (!ready) return { ok: false, why: "not idle on Launch", caption: text("#btn-play-caption") };
document.querySelector("#server-settings").click();
const item = () => document.querySelector('menu.context li[data-action="reinstall"]');
if (!(await until(() => item() !== null, 10000))) return { ok: false, why: "no Reinstall item in the server menu" };
const seen = watchBusy();
const t0 = Date.now();
item().click();
const done = await until(() => seen.busy && idle() && text("#btn-play-caption") === "Launch" && selectedCurrent(), $INSTALL_MS);
return { ok: done, ms: Date.now() - t0, caption: text("#btn-play-caption"), status: text("#task-status-label") };
EOF
}

# Selects catalog entry N (0-based) by clicking its tile.
select_step() {
  cat <<EOF
$PRELUDE
const tile = () => document.querySelectorAll("#server-list .server-tile")[$1];
if (!(await until(() => tile() !== undefined && idle(), 60000))) return { ok: false, why: "no tile $1" };
tile().click();
const ok = await until(() => tile().classList.contains("selected") && text("#btn-play-caption") === "Install", 20000);
return { ok, name: tile().dataset.name, caption: text("#btn-play-caption") };
EOF
}

settle_step() {
  cat <<EOF
await new Promise(r => setTimeout(r, $SETTLE_MS));
return { ok: true, settled_ms: $SETTLE_MS };
EOF
}

# --- one launcher run --------------------------------------------------------
# Samples the process tree below $1 (less the timeout wrapper) every half second into $2 as
# "<seconds> <total KiB> <comm>=<KiB>...", so that the peak and the share of
# each process can be told afterwards.
sample_tree() {
  local root=$1 out=$2 t0=$SECONDS
  while kill -0 "$root" 2>/dev/null; do
    ps -e -o pid=,ppid=,rss=,comm= | awk -v root="$root" -v t="$((SECONDS - t0))" '
      { parent[$1] = $2; rss[$1] = $3; name[$1] = $4; order[NR] = $1 }
      END {
        keep[root] = 1
        for (changed = 1; changed;) {
          changed = 0
          for (i = 1; i <= NR; ++i) { p = order[i]; if (!(p in keep) && (parent[p] in keep)) { keep[p] = 1; changed = 1 } }
        }
        total = 0; line = ""
        for (p in keep) if ((p in rss) && name[p] != "timeout") { total += rss[p]; by[name[p]] += rss[p] }
        for (n in by) line = line " " n "=" by[n]
        if (total > 0) print t, total line
      }' >>"$out" || true
    sleep 0.5
  done
}

# run_launcher NAME KIND: a fresh program folder, a catalog and a step script
# for KIND (A or B); leaves $WORK/NAME/{out,err,samples} and sets RUN_* values.
run_launcher() {
  local name=$1 kind=$2 dir=$WORK/$1 entries steps
  mkdir -p "$dir/home"
  cp "$LAUNCHER" "$dir/launcher"
  if [ "$kind" = B ] && [ "$MODE" = entries ]; then
    entries=""
    for i in 1 2 3; do
      entries+="${entries:+,}{\"name\":\"loop$i\",\"desc\":\"Loopback $i\",\"server\":\"$SERVER\",\"patchBaseUrl\":\"$BASE\",\"launchExecutable\":\"$EXE\"}"
    done
  else
    entries="{\"name\":\"loop1\",\"desc\":\"Loopback 1\",\"server\":\"$SERVER\",\"patchBaseUrl\":\"$BASE\",\"launchExecutable\":\"$EXE\"}"
  fi
  printf '{"servers":[%s]}\n' "$entries" >"$dir/customlist.json"

  steps=$dir/steps.js
  if [ "$kind" = A ]; then
    { install_step; echo ---; settle_step; } >"$steps"
  elif [ "$MODE" = reinstall ]; then
    { install_step; echo ---; reinstall_step; echo ---; reinstall_step; echo ---; settle_step; } >"$steps"
  else
    { for i in 0 1 2; do select_step "$i"; echo ---; install_step; echo ---; done; settle_step; } >"$steps"
  fi

  local limit=$((60 + 3 * INSTALL_S + 60)) t0=$SECONDS rc=0
  (
    cd "$dir"
    exec env DISPLAY=":$DISPLAY_NUMBER" GDK_BACKEND=x11 DBUS_SESSION_BUS_ADDRESS= HOME="$dir/home" \
      XDG_RUNTIME_DIR= setsid timeout -k 5 "$limit" "$dir/launcher" \
      --skip-self-update --test-answer-dialogs --test-answer-yes --test-script "$steps"
  ) >"$dir/out" 2>"$dir/err" &
  LAUNCHER_PID=$!
  sample_tree "$LAUNCHER_PID" "$dir/samples" &
  SAMPLER_PID=$!
  wait "$LAUNCHER_PID" || rc=$?
  LAUNCHER_PID=
  stop TERM "$SAMPLER_PID"
  SAMPLER_PID=

  RUN_SECONDS=$((SECONDS - t0))
  RUN_START_KIB=$(awk '$1 == "test:" && $2 == "rss-kib" { print $3; exit }' "$dir/out")
  RUN_START_PROCS=$(awk '$1 == "test:" && $2 == "rss-kib" { print $5; exit }' "$dir/out")
  RUN_END_KIB=$(awk '$1 == "test:" && $2 == "rss-kib-after-steps" { print $3; exit }' "$dir/out")
  RUN_END_PROCS=$(awk '$1 == "test:" && $2 == "rss-kib-after-steps" { print $5; exit }' "$dir/out")
  RUN_FIRST_FRAME=$(awk '$1 == "test:" && $2 == "first-frame-ms" { print $3; exit }' "$dir/out")
  RUN_PEAK_KIB=$(awk '$2 > m { m = $2 } END { print m + 0 }' "$dir/samples" 2>/dev/null || echo 0)
  # The last sample taken while every process was still up (the settle step).
  RUN_LAST_SAMPLE=$(awk '!/=0( |$)/ { last = $0 } END { print last }' "$dir/samples" 2>/dev/null | cut -d' ' -f3- || true)
  RUN_INSTALL_MS=$(grep -o '"ms":[0-9]*' "$dir/out" | cut -d: -f2 | paste -sd/ - || true)

  # Every step must have ended well, and every install must have left the
  # whole client behind.
  RUN_OK=1
  RUN_PROBLEM=
  if [ "$rc" -ne 0 ]; then RUN_OK=0; RUN_PROBLEM="launcher exit status $rc"; fi
  if awk '/^step [0-9]+ failed/ || (/^step / && /"ok":false/) { f = 1 } END { exit !f }' "$dir/out"; then
    RUN_OK=0; RUN_PROBLEM="${RUN_PROBLEM:+$RUN_PROBLEM; }a step failed"
  fi
  if [ -z "$RUN_START_KIB" ] || [ -z "$RUN_END_KIB" ]; then
    RUN_OK=0; RUN_PROBLEM="${RUN_PROBLEM:+$RUN_PROBLEM; }no rss reading"
  fi
  local expected=1 started
  [ "$kind" = B ] && expected=3
  started=$(grep -c -- '--- Install ---' "$dir/launcher.log" 2>/dev/null || true)
  if [ "${started:-0}" -ne "$expected" ]; then
    RUN_OK=0; RUN_PROBLEM="${RUN_PROBLEM:+$RUN_PROBLEM; }launcher.log shows ${started:-0} installs, not $expected"
  fi
  local installed
  for installed in "$dir"/clients/*; do
    [ -d "$installed" ] || { RUN_OK=0; RUN_PROBLEM="${RUN_PROBLEM:+$RUN_PROBLEM; }nothing installed"; break; }
    local files bytes
    files=$(find "$installed" -type f | wc -l)
    bytes=$(find "$installed" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
    if [ "$bytes" -lt "$CLIENT_BYTES" ]; then
      RUN_OK=0; RUN_PROBLEM="${RUN_PROBLEM:+$RUN_PROBLEM; }$(basename "$installed") holds $files files, $bytes bytes"
    fi
  done
  if [ "$RUN_OK" = 0 ]; then
    echo "launcher_memory.sh: run $name: $RUN_PROBLEM" >&2
    grep -E '^(step|test:)' "$dir/out" >&2 || true
    grep -E 'message box|rror|CRITICAL' "$dir/err" | head -n 20 >&2 || true
  fi
}

# --- the runs ----------------------------------------------------------------
: >"$WORK/results.txt"
record() {
  local name=$1 kind=$2
  printf '%s kind=%s ok=%s start_kib=%s start_procs=%s end_kib=%s end_procs=%s peak_kib=%s first_frame_ms=%s install_ms=%s seconds=%s last_sample=[%s]\n' \
    "$name" "$kind" "$RUN_OK" "${RUN_START_KIB:-}" "${RUN_START_PROCS:-}" "${RUN_END_KIB:-}" "${RUN_END_PROCS:-}" \
    "$RUN_PEAK_KIB" "${RUN_FIRST_FRAME:-}" "${RUN_INSTALL_MS:-}" "$RUN_SECONDS" "$RUN_LAST_SAMPLE" | tee -a "$WORK/results.txt"
}

START=$SECONDS
for i in $(seq "$REPEAT"); do
  if [ "$i" -gt 1 ] && [ $((SECONDS - START)) -gt "$BUDGET_S" ]; then
    echo "launcher_memory.sh: time budget spent, pair $i skipped" >&2
    break
  fi
  run_launcher "A$i" A
  record "A$i" A
  run_launcher "B$i" B
  record "B$i" B
done
LOAD_AFTER=$(loadavg)

# --- the report --------------------------------------------------------------
val() { awk -v r="$1" -v k="$2" '$1 == r { for (i = 2; i <= NF; ++i) { split($i, kv, "="); if (kv[1] == k) { print kv[2]; exit } } }' "$WORK/results.txt"; }
RUNS=$(awk '{ print $1 }' "$WORK/results.txt")
ALL_OK=1
for r in $RUNS; do [ "$(val "$r" ok)" = 1 ] || ALL_OK=0; done

A_END=$(for r in $RUNS; do case $r in A*) val "$r" end_kib ;; esac; done | grep . | median || true)
B_END=$(for r in $RUNS; do case $r in B*) val "$r" end_kib ;; esac; done | grep . | median || true)
if [ "$MODE" = reinstall ]; then
  B_WHAT="install, then Repair / Reinstall twice (server menu)"
else
  B_WHAT="installs into three catalog entries on one host"
fi

echo
echo "sample client: $SIZE ($CLIENT_FILES files, $CLIENT_BYTES bytes); host $BASE; display :$DISPLAY_NUMBER"
echo "load average before: $LOAD_BEFORE; after: $LOAD_AFTER ($(nproc) cores)"
echo "raw results: $WORK/results.txt"
echo
echo "Launcher resident memory (VmRSS summed over the launcher and its page-engine processes, test build \`launcher_empty_catalog\`, sample client $SIZE on loopback):"
echo
echo "| run | what | start-up RSS (MiB) | RSS after the steps (MiB) | peak sampled (MiB) | processes | install times (ms) |"
echo "| --- | --- | ---: | ---: | ---: | ---: | --- |"
for r in $RUNS; do
  case $r in A*) what="one install" ;; *) what=$B_WHAT ;; esac
  [ "$(val "$r" ok)" = 1 ] || what="$what (FAILED)"
  echo "| $r | $what | $(mib "$(val "$r" start_kib)") | $(mib "$(val "$r" end_kib)") | $(mib "$(val "$r" peak_kib)") | $(val "$r" end_procs) | $(val "$r" install_ms) |"
done
echo
for r in $RUNS; do
  echo "$r processes near the end (KiB): $(awk -v r="$r" '$1 == r { sub(/.*last_sample=\[/, ""); sub(/\]$/, ""); print }' "$WORK/results.txt")"
done
for i in $(seq "$REPEAT"); do
  a=$(val "A$i" end_kib); b=$(val "B$i" end_kib)
  [ -n "$a" ] && [ -n "$b" ] && echo "pair $i: B$i - A$i = $(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.1f", (b - a) / 1024 }') MiB"
done
echo
if [ -n "$A_END" ] && [ -n "$B_END" ]; then
  DIFF=$(awk -v a="$A_END" -v b="$B_END" 'BEGIN { printf "%.1f", (b - a) / 1024 }')
  VERDICT=$(awk -v d="$DIFF" -v g="$GOAL_MIB" 'BEGIN { print (d <= g) ? "within" : "over" }')
  [ "$ALL_OK" = 1 ] || VERDICT="$VERDICT (but a run failed, see above)"
  echo "Median after the steps: A $(mib "$A_END") MiB, B $(mib "$B_END") MiB; B - A = $DIFF MiB ($VERDICT the $GOAL_MIB MiB goal)."
else
  echo "No complete pair of readings: B - A not computed."
fi
echo
echo "Command: \`LAUNCHER_MEM_MODE=$MODE bash bench/launcher_memory.sh $SIZE\` (BUILD_DIR=$(realpath --relative-to="$REPO" "$BUILD_DIR" 2>/dev/null || echo "$BUILD_DIR"), $(nproc) cores, load average $LOAD_BEFORE before, $LOAD_AFTER after)."
[ "$ALL_OK" = 1 ]

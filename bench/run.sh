#!/usr/bin/env bash
# Patch engine benchmark on loopback, side by side with the tools a user would
# otherwise reach for:
#   (a) verifying an installed, matching client (runPatch, Verify mode: every
#       entry hashed) against md5sum over the same bytes on all cores, with
#       the update check beside it (Update mode, the installation's record
#       vouching for what it holds);
#   (b) a fresh install from the local patch host (runPatch, Install mode)
#       against curl fetching the same files on all cores, with peak memory;
#   (c) an update to a release in which 1% of the archive members and 1% of
#       the loose files changed, against curl fetching only the changed files,
#       and the bytes the update wrote into the installation against the
#       least it has to write (the changed members and files, the directories
#       of the archives they are in);
#   (d) an install killed (SIGKILL) once half of the client's bytes were
#       served, then run again into the same folder: what the second run
#       fetches, how long it takes, and whether the result verifies;
#   (e) a fresh install of a client of many small files from a host that
#       answers every request 50 ms late, as a distant one does, against curl
#       keeping as many transfers in flight as the engine does;
#   (f) the update check of an up-to-date client of BENCH_CHECK_SIZE with a
#       valid record: wall time and bytes read, with a warm page cache and
#       after the page cache was dropped;
# plus the install's peak memory at a second client size, and single-thread
# codec figures with zlib and libdeflate at several compression levels.
# Results go to docs/performance.md (and the raw numbers to $WORK/results.txt).
#
#   bash bench/run.sh [SIZE]        SIZE of the sample client, default 1G
#
# Environment: BUILD_DIR (default build-bench, configured here as Release when
# it does not exist), BENCH_WORK (default /tmp/mendly-bench; needs about 5x
# SIZE of free disk), BENCH_REPEAT (runs of each timed command, default 3),
# BENCH_RSS_ALSO (default 1G: a second client of that size is generated,
# published and installed BENCH_REPEAT times only to measure the install's
# peak resident memory, to show it does not grow with the client; skipped when
# it equals SIZE or is "none"; needs about 2x that size of disk more),
# BENCH_LATENCY_FILES (files of the client of (e), default 2000),
# BENCH_CHECK_SIZE (default 8G: the client of (f), generated, published and
# installed only for it, then removed; "none" skips (f); needs about 2x that
# size of disk more). Dropping the page cache for the cold figures of (f)
# needs root; without it they are left out.
#
#   BENCH_ONLY=latency bash bench/run.sh
#   BENCH_ONLY=deltas bash bench/run.sh 256M   ((g) alone, on a client of that size)
#
# runs (e) alone, without generating the large client (SIZE is then unused):
# its section goes to $WORK/performance-latency.md, its raw numbers to
# $WORK/results-latency.txt, and docs/performance.md is left as it is, since
# every number there comes from one full run.
set -euo pipefail

SIZE=${1:-1G}
HERE=$(cd "$(dirname "$0")" && pwd)
REPO=$(cd "$HERE/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$REPO/build-bench}
WORK=${BENCH_WORK:-/tmp/mendly-bench}
REPEAT=${BENCH_REPEAT:-3}
JOBS=$(nproc)
SERVER=bench
OUT_DOC=${BENCH_DOC:-$REPO/docs/performance.md}
RSS_ALSO=${BENCH_RSS_ALSO-1G}
CHECK_SIZE=${BENCH_CHECK_SIZE:-8G}
# The share of the client's bytes a run after a kill at half may fetch again.
RESUME_PROMISE_PCT=55
ONLY=${BENCH_ONLY:-}
case "$ONLY" in
  "" | latency | deltas) ;;
  *) echo "run.sh: BENCH_ONLY is \"latency\", \"deltas\" or unset, not \"$ONLY\"" >&2; exit 2 ;;
esac
# (e): the client's file count, the host's answer delay, and curl's transfers
# in flight: as many as the engine keeps (read from its source, so that the
# two sides stay matched when the engine's figure changes).
LAT_COUNT=${BENCH_LATENCY_FILES:-2000}
LAT_DELAY_MS=50
LAT_SERVER=lat
LAT_INFLIGHT=$(sed -n 's/^inline constexpr unsigned kTransfersInFlight = \([0-9][0-9]*\);.*/\1/p' \
  "$REPO/core/patch/worker_count.h")
[ -n "$LAT_INFLIGHT" ] || { echo "run.sh: kTransfersInFlight not found in core/patch/worker_count.h" >&2; exit 1; }

for tool in md5sum curl xargs find awk cp timeout python3; do
  command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "run.sh: /usr/bin/time is missing (apt-get install time)" >&2; exit 1; }

if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S "$REPO" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMENDLY_BUILD_LAUNCHER=OFF >/dev/null
fi
cmake --build "$BUILD_DIR" --target make_sample_client publish_patch patch_host patch_bench -j"$JOBS" >/dev/null
BUILD_TYPE=$(awk -F= '/^CMAKE_BUILD_TYPE:/{print $2}' "$BUILD_DIR/CMakeCache.txt")
# What was built: the commit, and the files that differed from it then.
SOURCE=$(git -C "$REPO" rev-parse --short HEAD 2>/dev/null || echo unknown)
SOURCE_CHANGED=$(git -C "$REPO" status --porcelain --untracked-files=normal -- core tools 2>/dev/null | wc -l)
[ "$SOURCE_CHANGED" -eq 0 ] || SOURCE="$SOURCE with $SOURCE_CHANGED file(s) under core/ and tools/ changed or added, not committed"
GEN=$BUILD_DIR/tools/make_sample_client/make_sample_client
PUBLISH=$BUILD_DIR/tools/publish_patch/publish_patch
HOST=$BUILD_DIR/tools/patch_host/patch_host
BENCH=$BUILD_DIR/bench/patch_bench

mkdir -p "$WORK"
RESULTS=$WORK/results.txt
[ "$ONLY" != latency ] || RESULTS=$WORK/results-latency.txt
: >"$RESULTS"
note() { echo "$1 $2" | tee -a "$RESULTS"; }
now() { date +%s.%N; }
# published DIR FIND-ACTION...: the files of the publication in DIR (a host
# root's NAME folder), leaving out NAME/by-sha256/, whose entries are hard
# links to the same files under the addresses the manifest serves them at.
published() { local d=$1; shift; find "$d" -path "$d/by-sha256" -prune -o -type f "$@"; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", b - a }'; }
mibps() { awk -v bytes="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.1f", bytes / 1048576 / s; else print "n/a" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
field() { awk -v k="$1" '$1 == k { $1 = ""; sub(/^ /, ""); print; exit }' "$2"; }
loadavg() { cut -d' ' -f1-3 /proc/loadavg; }
note source "$SOURCE"

# Every process started in the background here, stopped on any exit.
HOST_PID=
RESUME_HOST_PID=
UPDATE_HOST_PID=
LAT_HOST_PID=
INSTALL_PID=
stop() { if [ -n "$2" ]; then kill "-$1" "$2" 2>/dev/null || true; wait "$2" 2>/dev/null || true; fi; }
cleanup() {
  stop KILL "$INSTALL_PID"
  stop TERM "$LAT_HOST_PID"
  stop TERM "$UPDATE_HOST_PID"
  stop TERM "$RESUME_HOST_PID"
  stop TERM "$HOST_PID"
}
trap cleanup EXIT

# A patch host on 127.0.0.1: start_host ROOT OUT ERR [OPTION]... starts it in
# the background serving ROOT (STARTED_PID); its base address goes to OUT.
start_host() {
  local root=$1 out=$2 err=$3
  shift 3
  "$HOST" --root "$root" --bind 127.0.0.1 --port 0 "$@" >"$out" 2>>"$err" &
  STARTED_PID=$!
  for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.1; done
  [ -s "$out" ] || { echo "run.sh: patch_host did not start: $(cat "$err")" >&2; exit 1; }
}

# requests_in LOG OUT: the requests the host logged in LOG, as sorted
# "METHOD target status" lines in OUT (once LOG has settled).
requests_in() { settle "$1"; awk '{ print $2, $3, $4 }' "$1" | LC_ALL=C sort >"$2"; }

# Empties the page cache (after writing back what is dirty), so that the next
# run reads from the disk; false when this process may not.
drop_caches() { sync && { echo 3 >/proc/sys/vm/drop_caches; } 2>/dev/null; }

# Waits until LOG has stopped growing for 200 ms (at most 5 s): a response the
# host was still sending when its client went away, or had just sent, is
# logged when it ends.
settle() {
  local last=-1 same=0 now_size
  for _ in $(seq 100); do
    now_size=$(stat -c %s "$1")
    if [ "$now_size" = "$last" ]; then
      same=$((same + 1))
      [ "$same" -lt 4 ] || return 0
    else
      same=0
      last=$now_size
    fi
    sleep 0.05
  done
}

# --- (e) a distant host: many small files, every answer late -----------------
# A client of its own: lat_generate DIR COUNT writes COUNT files of 1 to 64 KiB
# (sizes and bytes from a fixed seed), every other one text-like and the rest
# random bytes, two in twenty (one of each kind) under gfx/ so that the
# install also writes an archive, the others loose in eight folders under
# data/.
lat_generate() {
  python3 - "$1" "$2" <<'PY'
import os, random, sys

out, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(5)
letters = "abcdefghijklmnopqrstuvwxyz"
words = ["".join(rng.choice(letters) for _ in range(rng.randint(2, 10))) for _ in range(2000)]
lines = [(" ".join(rng.choice(words) for _ in range(rng.randint(4, 16))) + "\n").encode()
         for _ in range(4000)]
os.makedirs(out)
with open(os.path.join(out, "_version._"), "wb") as f:
    f.write(b"Kaltris Nexum-2.5.9\r\n")
for i in range(count):
    size = rng.randint(1024, 65536)
    text = i % 2 == 0
    if text:
        body = b""
        while len(body) < size:
            body += b"".join(rng.choices(lines, k=256))
        body = body[:size]
    else:
        body = rng.randbytes(size)
    folder = os.path.join(out, "gfx" if i % 20 >= 18 else "data", "set%d" % (i % 8))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%05d.%s" % (i, "txt" if text else "bin")), "wb") as f:
        f.write(body)
PY
}

# Generates, publishes and serves that client, then times BENCH_REPEAT fresh
# installs and as many curl runs fetching the same addresses: one curl run,
# then one install, in turns, so that both meet the same load on the machine.
# Raw numbers go to $RESULTS (lat_*), the document's section to
# $WORK/latency-section.md.
latency_case() {
  local client=$WORK/lat-client root=$WORK/lat-host dir=$WORK/lat-install scratch=$WORK/lat-curl
  local log=$WORK/lat-host.log t0 i
  rm -rf "$client" "$root" "$dir" "$scratch"
  rm -f "$WORK"/lat-*.times "$WORK"/lat-install.* "$WORK"/lat-requests.*
  note lat_load_before "$(loadavg)"
  t0=$(now)
  lat_generate "$client" "$LAT_COUNT"
  note lat_generate_s "$(elapsed "$t0" "$(now)")"
  t0=$(now)
  "$PUBLISH" --client "$client" --server "$LAT_SERVER" --root "$root" --force | tee "$WORK/lat-publish.txt"
  note lat_publish_s "$(elapsed "$t0" "$(now)")"
  local loose_files members
  loose_files=$(find "$client" -path "$client/gfx" -prune -o -type f -print | wc -l)
  members=$(find "$client/gfx" -type f | wc -l)
  rm -rf "$client"

  # What a whole install fetches: the manifest and every file below root/lat.
  local files bytes requests
  files=$(published "$root/$LAT_SERVER" -print | wc -l)
  requests=$((files + 1))
  bytes=$({ published "$root/$LAT_SERVER" -printf '%s\n'; stat -c %s "$root/$LAT_SERVER.manifest"; } | awk '{ s += $1 } END { printf "%.0f\n", s }')
  note lat_files "$files"
  note lat_requests "$requests"
  note lat_bytes "$bytes"

  : >"$log"
  start_host "$root" "$WORK/lat-host.out" "$log" --delay "$LAT_DELAY_MS" --log
  LAT_HOST_PID=$STARTED_PID
  local base
  base=$(head -n1 "$WORK/lat-host.out")
  "$BENCH" curl-config --manifest "$root/$LAT_SERVER.manifest" --base "$base" --server "$LAT_SERVER" \
    --out "$scratch" >"$WORK/lat.curl"

  # logged_requests FILE: the requests the host logged since its log was
  # emptied, as sorted "METHOD target status" lines.
  logged_requests() { requests_in "$log" "$1"; }
  local curl_bytes rc
  : >"$WORK/lat-curl.times"
  : >"$WORK/lat-install.times"
  : >"$WORK/lat-install-process.times"
  for i in $(seq "$REPEAT"); do
    rm -rf "$scratch"
    : >"$log"
    t0=$(now)
    rc=0
    curl -s -Z --parallel-immediate --parallel-max "$LAT_INFLIGHT" --create-dirs -K "$WORK/lat.curl" || rc=$?
    elapsed "$t0" "$(now)" >>"$WORK/lat-curl.times"
    [ "$rc" = 0 ] || { echo "run.sh: curl failed (exit $rc) fetching the client of (e)" >&2; exit 1; }
    logged_requests "$WORK/lat-requests.curl.$i"
    curl_bytes=$(find "$scratch" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f\n", s }')
    [ "$curl_bytes" = "$bytes" ] ||
      { echo "run.sh: curl fetched $curl_bytes bytes for (e), expected $bytes" >&2; exit 1; }

    rm -rf "$dir"
    : >"$log"
    t0=$(now)
    "$BENCH" run --mode install --base "$base" --server "$LAT_SERVER" --dir "$dir" >"$WORK/lat-install.$i"
    elapsed "$t0" "$(now)" >>"$WORK/lat-install-process.times"
    [ "$(field result "$WORK/lat-install.$i")" = ok ] || { cat "$WORK/lat-install.$i" >&2; exit 1; }
    field total_s "$WORK/lat-install.$i" >>"$WORK/lat-install.times"
    logged_requests "$WORK/lat-requests.install.$i"
  done
  stop TERM "$LAT_HOST_PID"
  LAT_HOST_PID=
  rm -rf "$scratch" "$dir" "$root"

  local curl_s install_s mid=1
  curl_s=$(median <"$WORK/lat-curl.times")
  install_s=$(median <"$WORK/lat-install.times")
  for i in $(seq "$REPEAT"); do [ "$(field total_s "$WORK/lat-install.$i")" = "$install_s" ] && mid=$i && break; done
  note lat_curl_s "$curl_s"
  note lat_install_s "$install_s"
  note lat_curl_runs_s "$(paste -sd' ' "$WORK/lat-curl.times")"
  note lat_install_runs_s "$(paste -sd' ' "$WORK/lat-install.times")"
  note lat_install_process_s "$(median <"$WORK/lat-install-process.times")"
  for k in stage_manifest_s stage_verify_s stage_download_s stage_apply_s cpu_user_s cpu_sys_s; do
    note "lat_install_$k" "$(field $k "$WORK/lat-install.$mid")"
  done
  # The engine's speed relative to curl's: curl's time over the engine's.
  local speed target_met
  speed=$(ratio "$curl_s" "$install_s")
  target_met=$(awk -v c="$curl_s" -v e="$install_s" 'BEGIN { print (e > 0 && c / e >= 0.8) ? "met" : "missed" }')
  note lat_speed_engine_over_curl "$speed"
  note lat_target "$target_met"
  # What the delay alone costs with LAT_INFLIGHT requests waiting at a time.
  local floor
  floor=$(awk -v n="$requests" -v k="$LAT_INFLIGHT" -v d="$LAT_DELAY_MS" \
    'BEGIN { printf "%.2f", int((n + k - 1) / k) * d / 1000 }')
  note lat_delay_floor_s "$floor"
  # Both asked for the same addresses in every run, and all were answered 200?
  local same=yes other=0 r
  for i in $(seq "$REPEAT"); do
    cmp -s "$WORK/lat-requests.curl.$i" "$WORK/lat-requests.install.$i" || same=no
    cmp -s "$WORK/lat-requests.curl.1" "$WORK/lat-requests.curl.$i" || same=no
    for r in "$WORK/lat-requests.curl.$i" "$WORK/lat-requests.install.$i"; do
      other=$((other + $(awk '$1 != "GET" || $3 != "200"' "$r" | wc -l)))
    done
  done
  local engine_requests curl_requests
  engine_requests=$(wc -l <"$WORK/lat-requests.install.$mid")
  curl_requests=$(wc -l <"$WORK/lat-requests.curl.1")
  note lat_same_requests "$same"
  note lat_not_get_200 "$other"
  note lat_load_after "$(loadavg)"
  if [ "$same" = no ]; then
    echo "run.sh: warning: in (e) curl and the engine did not ask the host for the same files" >&2
    diff "$WORK/lat-requests.curl.1" "$WORK/lat-requests.install.$mid" | head -n 10 >&2 || true
  fi

  local per_s_engine per_s_curl mib
  per_s_engine=$(awk -v n="$requests" -v s="$install_s" 'BEGIN { if (s > 0) printf "%.0f", n / s; else print "n/a" }')
  per_s_curl=$(awk -v n="$requests" -v s="$curl_s" 'BEGIN { if (s > 0) printf "%.0f", n / s; else print "n/a" }')
  mib=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1048576 }')
  cat >"$WORK/latency-section.md" <<EOF
## (e) A distant host: $LAT_COUNT small files, every answer $LAT_DELAY_MS ms late

A client of $LAT_COUNT files of 1 to 64 KiB (sizes and bytes from a fixed seed; every other file
text-like, the rest random bytes), generated by \`bench/run.sh\` in $(field lat_generate_s "$RESULTS") s: $loose_files
loose files (with \`_version._\`) in eight folders under \`data/\`, and $members files under \`gfx/\`,
which the install writes as members of \`gfx.pak\`. Published with
\`publish_patch --client lat-client --server $LAT_SERVER --root lat-host --force\` ($(field lat_publish_s "$RESULTS") s):
$files files, with the manifest $requests requests and $mib MiB for a whole install. The host answers
every request $LAT_DELAY_MS ms late, as a distant one does; the engine keeps $LAT_INFLIGHT transfers in flight,
and curl is given as many.

\`\`\`
patch_host --root lat-host --bind 127.0.0.1 --port 0 --delay $LAT_DELAY_MS --log 2>>lat-host.log
patch_bench curl-config --manifest lat-host/$LAT_SERVER.manifest --base URL --server $LAT_SERVER --out lat-curl >lat.curl
# then in turn, $REPEAT runs of each, each into a folder that does not exist yet:
curl -s -Z --parallel-immediate --parallel-max $LAT_INFLIGHT --create-dirs -K lat.curl
patch_bench run --mode install --base URL --server $LAT_SERVER --dir lat-install
\`\`\`

\`lat.curl\` holds a \`url = ...\` / \`output = ...\` pair for the manifest and for every file it
lists, at the addresses the engine requests (\`URL/$LAT_SERVER.manifest\`, \`URL/$LAT_SERVER/<relative path>\`).
The engine's time is the run's own (manifest, verification of the empty folder, download, writing
the loose files and \`gfx.pak\`); curl's is its process's, from start to exit.

| | time (median) | runs | files/s |
|---|---|---|---|
| runPatch, Install mode into an empty folder (\`patch_bench run --mode install\`) | $install_s s | $(field lat_install_runs_s "$RESULTS") s | $per_s_engine |
| \`curl -s -Z --parallel-immediate --parallel-max $LAT_INFLIGHT --create-dirs -K lat.curl\` | $curl_s s | $(field lat_curl_runs_s "$RESULTS") s | $per_s_curl |
| speed engine / curl (curl's time / the engine's; target: at least 0.8) | | | $speed (**$target_met**) |

files/s counts the $requests requests of a whole install for both. The delay alone, with
$LAT_INFLIGHT requests waiting at a time, comes to $floor s (ceil($requests / $LAT_INFLIGHT) x $LAT_DELAY_MS ms).

- The install timed from outside, as curl is (process start to exit, median):
  $(field lat_install_process_s "$RESULTS") s.
- Requests the host logged: $engine_requests per install, $curl_requests per curl run; the same
  addresses in every run of both: $same; answers other than a 200 to a GET: $other.
- Stages of the install (the run whose time is the median): manifest $(field lat_install_stage_manifest_s "$RESULTS") s,
  verification $(field lat_install_stage_verify_s "$RESULTS") s, download $(field lat_install_stage_download_s "$RESULTS") s,
  apply $(field lat_install_stage_apply_s "$RESULTS") s; CPU user $(field lat_install_cpu_user_s "$RESULTS") s,
  system $(field lat_install_cpu_sys_s "$RESULTS") s.
- Load average (1, 5, 15 min) before this case: $(field lat_load_before "$RESULTS"); after: $(field lat_load_after "$RESULTS").
EOF
}

LOAD_BEFORE=$(loadavg)
note load_before "$LOAD_BEFORE"

# shellcheck source=bench/delta_case.sh
. "$HERE/delta_case.sh"

if [ "$ONLY" = deltas ]; then
  rm -rf "$WORK/client"
  "$GEN" --out "$WORK/client" --size "$SIZE" --seed 1 >"$WORK/generate.txt"
  delta_case "$WORK/client"
  cat "$WORK/delta-section.md"
  echo "run.sh: wrote $WORK/delta-section.md (docs/performance.md left as it is)"
  exit 0
fi

if [ "$ONLY" = latency ]; then
  latency_case
  {
    echo "Measured by \`BENCH_ONLY=latency bash bench/run.sh\` on $(date -u +%Y-%m-%d) (UTC), $BUILD_TYPE build"
    echo "($BUILD_DIR), $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo), $JOBS hardware threads."
    echo
    cat "$WORK/latency-section.md"
  } >"$WORK/performance-latency.md"
  cat "$WORK/performance-latency.md"
  echo "run.sh: wrote $WORK/performance-latency.md (docs/performance.md left as it is)"
  exit 0
fi

# --- the sample client and its publication ---------------------------------
rm -rf "$WORK/client" "$WORK/host" "$WORK/install" "$WORK/install-pak" "$WORK/curl" "$WORK/client-also" \
  "$WORK/install-also" "$WORK/install-resume" "$WORK/copy" "$WORK"/update-log.* "$WORK/curl-update" \
  "$WORK/client-check" "$WORK/install-check"
rm -f "$WORK"/*.times "$WORK"/*.rss "$WORK"/update-requests.* "$WORK"/check-*.*
t0=$(now)
"$GEN" --out "$WORK/client" --size "$SIZE" --seed 1 | tee "$WORK/generate.txt"
note generate_s "$(elapsed "$t0" "$(now)")"
t0=$(now)
"$PUBLISH" --client "$WORK/client" --server "$SERVER" --root "$WORK/host" --force | tee "$WORK/publish.txt"
note publish_s "$(elapsed "$t0" "$(now)")"

FILES=$(published "$WORK/host/$SERVER" -print | wc -l)
BYTES=$(published "$WORK/host/$SERVER" -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f\n", s }')
PAK_BYTES=$(find "$WORK/client" -maxdepth 1 -name '*.pak' -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f\n", s }')
LOOSE_BYTES=$(find "$WORK/client" -type f -printf '%s\n' | awk -v p="$PAK_BYTES" '{ s += $1 } END { printf "%.0f\n", s - p }')
note files "$FILES"
note content_bytes "$BYTES"
note client_loose_bytes "$LOOSE_BYTES"
note client_pak_bytes "$PAK_BYTES"

: >"$WORK/host.err"
start_host "$WORK/host" "$WORK/host.out" "$WORK/host.err"
HOST_PID=$STARTED_PID
BASE=$(head -n1 "$WORK/host.out")
note base "$BASE"

# --- (b) fresh install against curl ----------------------------------------
# curl first, so that both read the host's files from a warm page cache.
"$BENCH" curl-args --manifest "$WORK/host/$SERVER.manifest" --base "$BASE" --server "$SERVER" \
  --out "$WORK/curl" >"$WORK/curl-args"
CURL_CMD="xargs -0 -P$JOBS -n 48 curl -s --create-dirs < curl-args"
for i in $(seq "$REPEAT"); do
  rm -rf "$WORK/curl"
  t0=$(now)
  xargs -0 -P"$JOBS" -n 48 curl -s --create-dirs <"$WORK/curl-args"
  elapsed "$t0" "$(now)" >>"$WORK/curl.times"
done
CURL_S=$(median <"$WORK/curl.times")
CURL_BYTES=$(find "$WORK/curl" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f\n", s }')
[ "$CURL_BYTES" = "$BYTES" ] || echo "run.sh: warning: curl fetched $CURL_BYTES bytes, expected $BYTES" >&2
note curl_s "$CURL_S"
rm -rf "$WORK/curl"

for i in $(seq "$REPEAT"); do
  rm -rf "$WORK/install"
  /usr/bin/time -v -o "$WORK/install.time.$i" \
    "$BENCH" run --mode install --base "$BASE" --server "$SERVER" --dir "$WORK/install" >"$WORK/install.$i"
  [ "$(field result "$WORK/install.$i")" = ok ] || { cat "$WORK/install.$i" >&2; exit 1; }
  field total_s "$WORK/install.$i" >>"$WORK/install.times"
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$WORK/install.time.$i" >>"$WORK/install.rss"
done
INSTALL_S=$(median <"$WORK/install.times")
# The run whose time is the median, for its stage split; memory is the median
# of all runs, as for the second client size below.
for i in $(seq "$REPEAT"); do [ "$(field total_s "$WORK/install.$i")" = "$INSTALL_S" ] && MID=$i && break; done
INSTALL=$WORK/install.$MID
INSTALL_RSS_KIB=$(median <"$WORK/install.rss")
note install_s "$INSTALL_S"
note install_rss_kib "$INSTALL_RSS_KIB"
for k in stage_manifest_s stage_verify_s stage_download_s stage_apply_s cpu_user_s cpu_sys_s io_write_bytes; do
  note "install_$k" "$(field $k "$INSTALL")"
done
# installed_bytes DIR: the client's bytes in an installation (the record left out).
installed_bytes() { find "$1" -type f ! -path "$1/.mendly-state" -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f\n", s }'; }
note install_client_bytes "$(installed_bytes "$WORK/install")"

# The same client with every member delivered as a single-file payload: the
# install stores the payload bodies as they come instead of compressing.
"$PUBLISH" --client "$WORK/client" --server "$SERVER-pak" --root "$WORK/host" --force --payload-all \
  | tee "$WORK/publish-pak.txt"
PAK_SERVED_BYTES=$(published "$WORK/host/$SERVER-pak" -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f\n", s }')
note payload_served_bytes "$PAK_SERVED_BYTES"
# curl is given the same files (payloads as served), in turns with the installs.
"$BENCH" curl-args --manifest "$WORK/host/$SERVER-pak.manifest" --base "$BASE" --server "$SERVER-pak" \
  --out "$WORK/curl-pak" >"$WORK/curl-pak-args"
: >"$WORK/curl-pak.times"
for i in $(seq "$REPEAT"); do
  rm -rf "$WORK/curl-pak"
  t0=$(now)
  xargs -0 -P"$JOBS" -n 48 curl -s --create-dirs <"$WORK/curl-pak-args"
  elapsed "$t0" "$(now)" >>"$WORK/curl-pak.times"
  rm -rf "$WORK/install-pak"
  /usr/bin/time -v -o "$WORK/install-pak.time.$i" \
    "$BENCH" run --mode install --base "$BASE" --server "$SERVER-pak" --dir "$WORK/install-pak" >"$WORK/install-pak.$i"
  [ "$(field result "$WORK/install-pak.$i")" = ok ] || { cat "$WORK/install-pak.$i" >&2; exit 1; }
  field total_s "$WORK/install-pak.$i" >>"$WORK/install-pak.times"
done
rm -rf "$WORK/curl-pak"
note payload_curl_s "$(median <"$WORK/curl-pak.times")"
PAK_INSTALL_S=$(median <"$WORK/install-pak.times")
for i in $(seq "$REPEAT"); do [ "$(field total_s "$WORK/install-pak.$i")" = "$PAK_INSTALL_S" ] && MID=$i && break; done
note payload_install_s "$PAK_INSTALL_S"
note payload_install_rss_kib "$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$WORK/install-pak.time.$MID")"
for k in stage_download_s stage_apply_s cpu_user_s io_write_bytes; do note "payload_install_$k" "$(field $k "$WORK/install-pak.$MID")"; done
note payload_client_bytes "$(installed_bytes "$WORK/install-pak")"
"$BENCH" run --mode verify --base "$BASE" --server "$SERVER-pak" --dir "$WORK/install-pak" >"$WORK/verify-pak.txt"
note payload_verify_s "$(field total_s "$WORK/verify-pak.txt")"
note payload_verify_result "$(field verify_result "$WORK/verify-pak.txt")"
rm -rf "$WORK/install-pak" "$WORK/host/$SERVER-pak" "$WORK/host/$SERVER-pak.manifest"

# --- peak memory of the install at a second client size --------------------
# Only the install's peak resident memory is measured; the client is removed
# once published, the publication and installation once measured.
RSS_ALSO_DONE=no
if [ -n "$RSS_ALSO" ] && [ "$RSS_ALSO" != none ] && [ "$RSS_ALSO" != "$SIZE" ]; then
  "$GEN" --out "$WORK/client-also" --size "$RSS_ALSO" --seed 1 >"$WORK/generate-also.txt"
  "$PUBLISH" --client "$WORK/client-also" --server "$SERVER-also" --root "$WORK/host" --force >"$WORK/publish-also.txt"
  rm -rf "$WORK/client-also"
  note also_size "$RSS_ALSO"
  note also_content_bytes "$(published "$WORK/host/$SERVER-also" -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f\n", s }')"
  : >"$WORK/install-also.rss"
  for i in $(seq "$REPEAT"); do
    rm -rf "$WORK/install-also"
    /usr/bin/time -v -o "$WORK/install-also.time.$i" \
      "$BENCH" run --mode install --base "$BASE" --server "$SERVER-also" --dir "$WORK/install-also" \
      >"$WORK/install-also.$i"
    [ "$(field result "$WORK/install-also.$i")" = ok ] || { cat "$WORK/install-also.$i" >&2; exit 1; }
    awk -F': ' '/Maximum resident set size/ { print $2 }' "$WORK/install-also.time.$i" >>"$WORK/install-also.rss"
  done
  note also_install_rss_kib "$(median <"$WORK/install-also.rss")"
  note also_install_rss_range_kib "$(sort -g "$WORK/install-also.rss" | sed -n '1p;$p' | paste -sd' ')"
  rm -rf "$WORK/install-also" "$WORK/host/$SERVER-also" "$WORK/host/$SERVER-also.manifest"
  RSS_ALSO_DONE=yes
fi

# --- (a) verification of the matching client against md5sum ---------------
MD5_CMD="find host/$SERVER -path host/$SERVER/by-sha256 -prune -o -type f -print0 | xargs -0 -P$JOBS -n 16 md5sum"
published "$WORK/host/$SERVER" -print0 | xargs -0 -P"$JOBS" -n 16 md5sum >/dev/null  # warm-up
for i in $(seq "$REPEAT"); do
  t0=$(now)
  published "$WORK/host/$SERVER" -print0 | xargs -0 -P"$JOBS" -n 16 md5sum >/dev/null
  elapsed "$t0" "$(now)" >>"$WORK/md5sum.times"
done
MD5SUM_S=$(median <"$WORK/md5sum.times")
note md5sum_s "$MD5SUM_S"

# Verify mode hashes every entry, as a player's "verify" does; the update
# check beside it is an Update run right after a run that wrote the
# installation's record (the install of (b), then each run here), so the record
# vouches for every entry. One of each, in turns.
matches() { case "$(field verify_result "$1")" in "Verify done: all "*" match.") return 0 ;; *) return 1 ;; esac; }
"$BENCH" run --mode verify --base "$BASE" --server "$SERVER" --dir "$WORK/install" >"$WORK/verify.warm"
for i in $(seq "$REPEAT"); do
  "$BENCH" run --mode verify --base "$BASE" --server "$SERVER" --dir "$WORK/install" >"$WORK/verify.$i"
  [ "$(field result "$WORK/verify.$i")" = ok ] || { cat "$WORK/verify.$i" >&2; exit 1; }
  matches "$WORK/verify.$i" || echo "run.sh: warning: verifying the installed client: $(field verify_result "$WORK/verify.$i")" >&2
  field total_s "$WORK/verify.$i" >>"$WORK/verify.times"
  "$BENCH" run --mode update --base "$BASE" --server "$SERVER" --dir "$WORK/install" >"$WORK/recheck.$i"
  [ "$(field result "$WORK/recheck.$i")" = ok ] || { cat "$WORK/recheck.$i" >&2; exit 1; }
  matches "$WORK/recheck.$i" || echo "run.sh: warning: the update check: $(field verify_result "$WORK/recheck.$i")" >&2
  field total_s "$WORK/recheck.$i" >>"$WORK/recheck.times"
done
VERIFY_S=$(median <"$WORK/verify.times")
for i in $(seq "$REPEAT"); do [ "$(field total_s "$WORK/verify.$i")" = "$VERIFY_S" ] && MID=$i && break; done
VERIFY=$WORK/verify.$MID
note verify_s "$VERIFY_S"
note verify_result "$(field verify_result "$VERIFY")"
for k in stage_manifest_s stage_verify_s cpu_user_s cpu_sys_s io_rchar; do note "verify_$k" "$(field $k "$VERIFY")"; done
RECHECK_S=$(median <"$WORK/recheck.times")
for i in $(seq "$REPEAT"); do [ "$(field total_s "$WORK/recheck.$i")" = "$RECHECK_S" ] && MID=$i && break; done
RECHECK=$WORK/recheck.$MID
note recheck_s "$RECHECK_S"
note recheck_result "$(field verify_result "$RECHECK")"
for k in stage_manifest_s stage_verify_s cpu_user_s cpu_sys_s io_rchar io_wchar; do
  note "recheck_$k" "$(field $k "$RECHECK")"
done
note record_bytes "$(stat -c %s "$WORK/install/.mendly-state" 2>/dev/null || echo 0)"

# --- single-thread codec figures on the installed archives -----------------
"$BENCH" codec --dir "$WORK/install" --limit $((256 << 20)) >"$WORK/codec.txt"
cat "$WORK/codec.txt" >>"$RESULTS"

# --- (c) an update to a release with 1% of members and loose files changed --
# The next release: the client of (b) with 1% of each archive's members and 1%
# of the loose files changed, deleted or cut short (make_sample_client
# --mutate, by seed, so the same ones every time), published beside the first
# as $SERVER-next. The installation, at the first release with the record of
# the last run of (a), is updated to the next one; before each further run it
# is updated back (timed apart), so every timed run starts from the first
# release. curl fetches what the update fetches: the manifest and the files
# whose MD5 differs, as many at a time as in (b). A host of its own logs every
# request, to show that both asked for the same files. launcher.log names the
# archives each update wrote; the archives' mtime, size and inode before and
# after say the same from outside.
NEXT=$SERVER-next
t0=$(now)
"$GEN" --mutate "$WORK/client" --members-percent 1 --loose-percent 1 --seed 11 | tee "$WORK/mutate.txt"
note mutate_s "$(elapsed "$t0" "$(now)")"
"$PUBLISH" --client "$WORK/client" --server "$NEXT" --root "$WORK/host" --force >"$WORK/publish-next.txt"
UPDATE_LOG=$WORK/update-host.log
: >"$UPDATE_LOG"
start_host "$WORK/host" "$WORK/update-host.out" "$UPDATE_LOG" --log
UPDATE_HOST_PID=$STARTED_PID
UBASE=$(head -n1 "$WORK/update-host.out")
"$BENCH" curl-args --manifest "$WORK/host/$NEXT.manifest" --changed-from "$WORK/host/$SERVER.manifest" \
  --with-manifest yes --base "$UBASE" --server "$NEXT" --out "$WORK/curl-update" >"$WORK/curl-update-args"
# What curl is to fetch: each target below curl-update/ is a file below host/.
tr '\0' '\n' <"$WORK/curl-update-args" | awk 'NR % 3 == 2' |
  sed "s|^$WORK/curl-update/$NEXT.manifest\$|$WORK/host/$NEXT.manifest|; s|^$WORK/curl-update/|$WORK/host/$NEXT/|" \
  >"$WORK/update-served.list"
UPDATE_FETCHED_FILES=$(wc -l <"$WORK/update-served.list")
UPDATE_FETCHED_BYTES=$(tr '\n' '\0' <"$WORK/update-served.list" | xargs -0 stat -c %s | awk '{ s += $1 } END { printf "%.0f\n", s }')
note update_fetched_files "$UPDATE_FETCHED_FILES"
note update_fetched_bytes "$UPDATE_FETCHED_BYTES"
UPDATE_CURL_CMD="xargs -0 -P$JOBS -n 48 curl -s --create-dirs < curl-update-args"

pak_state() { find "$WORK/install" -maxdepth 1 -name '*.pak' -printf '%p\t%T@ %s %i\n'; }
: >"$WORK/update-curl.times"
: >"$WORK/update.times"
: >"$WORK/update-back.times"
for i in $(seq "$REPEAT"); do
  if [ "$i" -gt 1 ]; then
    "$BENCH" run --mode update --base "$UBASE" --server "$SERVER" --dir "$WORK/install" >"$WORK/update-back.$i"
    [ "$(field result "$WORK/update-back.$i")" = ok ] || { cat "$WORK/update-back.$i" >&2; exit 1; }
    field total_s "$WORK/update-back.$i" >>"$WORK/update-back.times"
  fi
  rm -rf "$WORK/curl-update"
  : >"$UPDATE_LOG"
  t0=$(now)
  xargs -0 -P"$JOBS" -n 48 curl -s --create-dirs <"$WORK/curl-update-args"
  elapsed "$t0" "$(now)" >>"$WORK/update-curl.times"
  requests_in "$UPDATE_LOG" "$WORK/update-requests.curl.$i"
  got=$(find "$WORK/curl-update" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f\n", s }')
  [ "$got" = "$UPDATE_FETCHED_BYTES" ] ||
    { echo "run.sh: curl fetched $got bytes for (c), expected $UPDATE_FETCHED_BYTES" >&2; exit 1; }

  pak_state >"$WORK/paks.before.$i"
  rm -rf "$WORK/update-log.$i"
  mkdir -p "$WORK/update-log.$i"
  : >"$UPDATE_LOG"
  /usr/bin/time -v -o "$WORK/update.time.$i" \
    "$BENCH" run --mode update --base "$UBASE" --server "$NEXT" --dir "$WORK/install" --log "$WORK/update-log.$i" \
    >"$WORK/update.$i"
  [ "$(field result "$WORK/update.$i")" = ok ] || { cat "$WORK/update.$i" >&2; exit 1; }
  pak_state >"$WORK/paks.after.$i"
  field total_s "$WORK/update.$i" >>"$WORK/update.times"
  requests_in "$UPDATE_LOG" "$WORK/update-requests.install.$i"
done
rm -rf "$WORK/curl-update"
UPDATE_CURL_S=$(median <"$WORK/update-curl.times")
UPDATE_S=$(median <"$WORK/update.times")
for i in $(seq "$REPEAT"); do [ "$(field total_s "$WORK/update.$i")" = "$UPDATE_S" ] && MID=$i && break; done
cp "$WORK/update.$MID" "$WORK/update.txt"
UPDATE_RSS_KIB=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$WORK/update.time.$MID")
note update_curl_s "$UPDATE_CURL_S"
note update_s "$UPDATE_S"
note update_curl_runs_s "$(paste -sd' ' "$WORK/update-curl.times")"
note update_runs_s "$(paste -sd' ' "$WORK/update.times")"
note update_back_runs_s "$(paste -sd' ' "$WORK/update-back.times")"
note update_over_curl "$(ratio "$UPDATE_S" "$UPDATE_CURL_S")"
note update_rss_kib "$UPDATE_RSS_KIB"
note update_result "$(field verify_result "$WORK/update.txt")"
for k in stage_manifest_s stage_verify_s stage_download_s stage_apply_s cpu_user_s cpu_sys_s \
  io_rchar io_read_bytes io_wchar io_write_bytes io_cancelled_write_bytes; do
  note "update_$k" "$(field $k "$WORK/update.txt")"
done
note update_write_bytes_runs "$(for i in $(seq "$REPEAT"); do field io_write_bytes "$WORK/update.$i"; done | paste -sd' ')"

# Both asked the host for the same files in every run?
UPDATE_SAME=yes
for i in $(seq "$REPEAT"); do
  cmp -s "$WORK/update-requests.curl.$i" "$WORK/update-requests.install.$i" || UPDATE_SAME=no
done
UPDATE_NOT_200=$(cat "$WORK"/update-requests.*.* | awk '$1 != "GET" || $3 != "200"' | wc -l)
note update_same_requests "$UPDATE_SAME"
note update_requests "$(wc -l <"$WORK/update-requests.install.$MID")"
note update_not_get_200 "$UPDATE_NOT_200"
if [ "$UPDATE_SAME" = no ]; then
  echo "run.sh: warning: in (c) curl and the update did not ask the host for the same files" >&2
  diff "$WORK/update-requests.curl.$MID" "$WORK/update-requests.install.$MID" | head -n 10 >&2 || true
fi

# The installation now holds the next release: the least the update had to
# write, from the two manifests and the archives as they are now.
"$BENCH" update-size --old "$WORK/host/$SERVER.manifest" --new "$WORK/host/$NEXT.manifest" --dir "$WORK/install" \
  >"$WORK/update-size.txt" || { cat "$WORK/update-size.txt" >&2; echo "run.sh: update-size failed" >&2; exit 1; }
sed 's/^/update_floor_/' "$WORK/update-size.txt" >>"$RESULTS"
UPDATE_FLOOR=$(field floor_bytes "$WORK/update-size.txt")
note update_written_over_floor "$(ratio "$(field io_write_bytes "$WORK/update.txt")" "$UPDATE_FLOOR")"
note update_record_bytes "$(stat -c %s "$WORK/install/.mendly-state" 2>/dev/null || echo 0)"
# Is what the update left the next release? Every entry hashed again.
"$BENCH" run --mode verify --base "$UBASE" --server "$NEXT" --dir "$WORK/install" >"$WORK/after-update.txt"
note after_update_result "$(field verify_result "$WORK/after-update.txt")"
matches "$WORK/after-update.txt" || echo "run.sh: warning: after the update (c): $(field verify_result "$WORK/after-update.txt")" >&2
stop TERM "$UPDATE_HOST_PID"
UPDATE_HOST_PID=

# The archives the median run wrote, by its log and by their file state.
sed -n 's/^.*Updating archive: \(.*\) (.*$/\1/p' "$WORK/update-log.$MID/launcher.log" | LC_ALL=C sort -u \
  >"$WORK/affected.log"
# Changed or new: an archive that appeared counts as written too.
awk -F'\t' 'FNR == NR { before[$1] = $2; next } !($1 in before) || before[$1] != $2 { print $1 }' \
  "$WORK/paks.before.$MID" "$WORK/paks.after.$MID" | LC_ALL=C sort -u >"$WORK/affected.state"
if cmp -s "$WORK/affected.log" "$WORK/affected.state"; then
  note affected_agree yes
else
  note affected_agree "no: launcher.log names $(paste -sd' ' "$WORK/affected.log"),\
 the file state $(paste -sd' ' "$WORK/affected.state")"
  echo "run.sh: warning: the archives launcher.log names differ from those whose files changed" >&2
fi
mapfile -t AFFECTED <"$WORK/affected.state"
AFFECTED_BYTES=0
[ "${#AFFECTED[@]}" -eq 0 ] || AFFECTED_BYTES=$(stat -c %s -- "${AFFECTED[@]}" | awk '{ s += $1 } END { printf "%.0f\n", s }')
note affected_archives "${#AFFECTED[@]}"
note affected_bytes "$AFFECTED_BYTES"
# All archives before the first timed update and after the last: what the
# updates there and back left in them.
pak_bytes() { awk -F'\t' '{ split($2, f, " "); s += f[2] } END { printf "%.0f\n", s }' "$1"; }
note update_paks_bytes_first "$(pak_bytes "$WORK/paks.before.1")"
note update_paks_bytes_last "$(pak_bytes "$WORK/paks.after.$REPEAT")"

# --- (d) an install killed half-way, then run again -------------------------
# A host of its own, whose request log ("addr METHOD target status") gives what
# each run was served: the sizes of the files under host/ that the logged GETs
# answered 200 name. The log is appended to, so it can be emptied between runs.
(cd "$WORK/host" && find "$SERVER" "$SERVER.manifest" -type f -printf '/%p\t%s\n') >"$WORK/served-sizes"
# (Its by-sha256/ lines name the same files again, at the addresses served.)
WHOLE_SERVED=$(awk -F'\t' '$1 !~ "/by-sha256/" { s += $2 } END { printf "%.0f\n", s }' "$WORK/served-sizes")
note resume_whole_bytes "$WHOLE_SERVED"
# served LOG: "bytes files unknown" answered 200 to GETs in LOG; unknown counts
# targets that name no file of this client.
served() {
  awk '
    BEGIN { for (i = 0; i < 256; i++) { h = sprintf("%02X", i); hex[h] = sprintf("%c", i); hex[tolower(h)] = hex[h] } }
    function unescape(t,   out, i) {
      out = ""
      while ((i = index(t, "%")) > 0 && i + 2 <= length(t) && (substr(t, i + 1, 2) in hex)) {
        out = out substr(t, 1, i - 1) hex[substr(t, i + 1, 2)]
        t = substr(t, i + 3)
      }
      return out t
    }
    FNR == NR { size[$1] = $2; next }
    {
      if ($2 != "GET" || $NF != "200") next
      t = $0
      sub(/^[^ ]+ [^ ]+ /, "", t)
      sub(/ [0-9]+$/, "", t)
      sub(/[?#].*$/, "", t)
      t = unescape(t)
      if (t in size) { bytes += size[t]; files++ } else unknown++
    }
    END { printf "%.0f %d %d\n", bytes, files, unknown }' FS='\t' "$WORK/served-sizes" FS=' ' "$1"
}
alive() { local state; state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) && [ -n "$state" ] && [ "$state" != Z ]; }
pct() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.1f", 100 * a / b; else print "n/a" }'; }

RESUME_LOG=$WORK/resume-host.log
: >"$RESUME_LOG"
start_host "$WORK/host" "$WORK/resume-host.out" "$RESUME_LOG" --log
RESUME_HOST_PID=$STARTED_PID
RBASE=$(head -n1 "$WORK/resume-host.out")
RESUME_DIR=$WORK/install-resume
# Bounds: the killed run is given 10x a full install (at least 60 s) to reach
# half, the second run 20x (at least 120 s).
POLLS=$(awk -v s="$INSTALL_S" 'BEGIN { t = 10 * s; if (t < 60) t = 60; printf "%d", t * 20 }')
SECOND_LIMIT=$(awk -v s="$INSTALL_S" 'BEGIN { t = 20 * s; if (t < 120) t = 120; printf "%d", t }')
: >"$WORK/resume.rows"
for i in $(seq "$REPEAT"); do
  rm -rf "$RESUME_DIR"
  : >"$RESUME_LOG"
  "$BENCH" run --mode install --base "$RBASE" --server "$SERVER" --dir "$RESUME_DIR" >"$WORK/resume-first.$i" 2>&1 &
  INSTALL_PID=$!
  killed=no
  for _ in $(seq "$POLLS"); do
    alive "$INSTALL_PID" || break
    read -r got _ _ < <(served "$RESUME_LOG")
    if [ $((got * 2)) -ge "$WHOLE_SERVED" ]; then
      kill -KILL "$INSTALL_PID"
      killed=yes
      break
    fi
    sleep 0.05
  done
  if [ "$killed" = no ] && alive "$INSTALL_PID"; then
    stop KILL "$INSTALL_PID"
    INSTALL_PID=
    echo "run.sh: the install did not reach half of the client's bytes in time" >&2
    exit 1
  fi
  wait "$INSTALL_PID" 2>/dev/null || true
  INSTALL_PID=
  if [ "$killed" = no ]; then
    echo "run.sh: the install ended before half of the client's bytes were served:" >&2
    cat "$WORK/resume-first.$i" >&2
    exit 1
  fi
  settle "$RESUME_LOG"
  cp "$RESUME_LOG" "$WORK/resume-host-first.$i.log"
  read -r first_bytes first_files first_unknown < <(served "$RESUME_LOG")
  # What the killed run left on disk: all files, and those in the staging folder.
  kept_bytes=0
  staged_bytes=0
  [ ! -d "$RESUME_DIR" ] ||
    kept_bytes=$(find "$RESUME_DIR" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f\n", s }')
  [ ! -d "$RESUME_DIR/.mendly-staging" ] ||
    staged_bytes=$(find "$RESUME_DIR/.mendly-staging" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f\n", s }')

  : >"$RESUME_LOG"
  timeout -k 10 "$SECOND_LIMIT" \
    "$BENCH" run --mode install --base "$RBASE" --server "$SERVER" --dir "$RESUME_DIR" >"$WORK/resume-second.$i" || true
  [ "$(field result "$WORK/resume-second.$i")" = ok ] || {
    echo "run.sh: the install after the kill failed or did not end within $SECOND_LIMIT s:" >&2
    cat "$WORK/resume-second.$i" >&2
    exit 1
  }
  settle "$RESUME_LOG"
  cp "$RESUME_LOG" "$WORK/resume-host-second.$i.log"
  read -r second_bytes second_files second_unknown < <(served "$RESUME_LOG")
  [ "$((first_unknown + second_unknown))" -eq 0 ] ||
    echo "run.sh: warning: $((first_unknown + second_unknown)) answered request(s) name no file of the client" >&2
  left_files=0
  [ ! -d "$RESUME_DIR/.mendly-staging" ] || left_files=$(find "$RESUME_DIR/.mendly-staging" -type f | wc -l)
  field total_s "$WORK/resume-second.$i" >>"$WORK/resume-second.times"
  "$BENCH" run --mode verify --base "$RBASE" --server "$SERVER" --dir "$RESUME_DIR" >"$WORK/resume-verify.$i"
  verify=$(field verify_result "$WORK/resume-verify.$i")
  case "$verify" in "Verify done: all "*" match.") verified=yes ;; *) verified=no ;; esac
  # trial, served before the kill (bytes, files), kept on disk, of which staged,
  # served to the second run (bytes, files), its time, staged files left, verified, verification
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$i" "$first_bytes" "$first_files" "$kept_bytes" \
    "$staged_bytes" "$second_bytes" "$second_files" "$(field total_s "$WORK/resume-second.$i")" "$left_files" \
    "$verified" "$verify" >>"$WORK/resume.rows"
  note "resume_trial_$i" "killed_at_pct $(pct "$first_bytes" "$WHOLE_SERVED")\
 second_pct $(pct "$second_bytes" "$WHOLE_SERVED") second_s $(field total_s "$WORK/resume-second.$i") verified $verified"
done
stop TERM "$RESUME_HOST_PID"
RESUME_HOST_PID=
rm -rf "$RESUME_DIR"
RESUME_SECOND_S=$(median <"$WORK/resume-second.times")
RESUME_WORST_BYTES=$(cut -f6 "$WORK/resume.rows" | sort -g | tail -n1)
RESUME_WORST_PCT=$(pct "$RESUME_WORST_BYTES" "$WHOLE_SERVED")
RESUME_VERIFIED=$(awk -F'\t' '$10 == "yes"' "$WORK/resume.rows" | wc -l)
RESUME_KEPT=$(awk -v w="$RESUME_WORST_BYTES" -v whole="$WHOLE_SERVED" -v p="$RESUME_PROMISE_PCT" \
  'BEGIN { print (100 * w <= p * whole) ? "kept" : "broken" }')
note resume_second_s "$RESUME_SECOND_S"
note resume_second_worst_pct "$RESUME_WORST_PCT"
note resume_verified "$RESUME_VERIFIED of $REPEAT"
note resume_promise "$RESUME_KEPT"

# --- (e) a distant host ------------------------------------------------------
latency_case

# --- (f) the update check of an up-to-date client with its record ----------
# A client of CHECK_SIZE of its own, published beside the others and
# installed (Install mode, which writes the record). Then, in turns, an
# Update run with a warm page cache and one right after the page cache was
# dropped; each follows a run that wrote the record, and nothing changed in
# between, so the record vouches for every entry. rchar is what the run asked
# the kernel to read (whatever the page cache held), read_bytes what came from
# the disk. One Verify run at the end gives what the same check costs when
# every entry is hashed.
CHECK_DONE=no
CHECK_COLD=no
if [ -n "$CHECK_SIZE" ] && [ "$CHECK_SIZE" != none ]; then
  CHECK_SERVER=$SERVER-check
  CHECK_DIR=$WORK/install-check
  t0=$(now)
  "$GEN" --out "$WORK/client-check" --size "$CHECK_SIZE" --seed 1 >"$WORK/generate-check.txt"
  note check_generate_s "$(elapsed "$t0" "$(now)")"
  t0=$(now)
  "$PUBLISH" --client "$WORK/client-check" --server "$CHECK_SERVER" --root "$WORK/host" --force >"$WORK/publish-check.txt"
  note check_publish_s "$(elapsed "$t0" "$(now)")"
  rm -rf "$WORK/client-check"
  note check_size "$CHECK_SIZE"
  note check_host_files "$(published "$WORK/host/$CHECK_SERVER" -print | wc -l)"
  note check_content_bytes "$(published "$WORK/host/$CHECK_SERVER" -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f\n", s }')"
  "$BENCH" run --mode install --base "$BASE" --server "$CHECK_SERVER" --dir "$CHECK_DIR" >"$WORK/check-install.txt"
  [ "$(field result "$WORK/check-install.txt")" = ok ] || { cat "$WORK/check-install.txt" >&2; exit 1; }
  note check_install_s "$(field total_s "$WORK/check-install.txt")"
  note check_install_rss_kib "$(field max_rss_kib "$WORK/check-install.txt")"
  note check_install_write_bytes "$(field io_write_bytes "$WORK/check-install.txt")"
  # The client's bytes: every file of the installation but the record.
  CHECK_BYTES=$(find "$CHECK_DIR" -type f ! -path "$CHECK_DIR/.mendly-state" -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f\n", s }')
  note check_client_files "$(find "$CHECK_DIR" -type f ! -path "$CHECK_DIR/.mendly-state" | wc -l)"
  note check_client_bytes "$CHECK_BYTES"
  note check_record_bytes "$(stat -c %s "$CHECK_DIR/.mendly-state" 2>/dev/null || echo 0)"
  drop_caches && CHECK_COLD=yes
  note check_cold_possible "$CHECK_COLD"
  # check_run KIND I: one Update run into check-KIND.I, its time from outside
  # (process start to exit) appended to check-KIND-process.times.
  check_run() {
    local t
    t=$(now)
    "$BENCH" run --mode update --base "$BASE" --server "$CHECK_SERVER" --dir "$CHECK_DIR" >"$WORK/check-$1.$2"
    elapsed "$t" "$(now)" >>"$WORK/check-$1-process.times"
    [ "$(field result "$WORK/check-$1.$2")" = ok ] || { cat "$WORK/check-$1.$2" >&2; exit 1; }
    matches "$WORK/check-$1.$2" ||
      echo "run.sh: warning: the update check (f): $(field verify_result "$WORK/check-$1.$2")" >&2
    field total_s "$WORK/check-$1.$2" >>"$WORK/check-$1.times"
  }
  kinds=warm
  [ "$CHECK_COLD" = no ] || kinds="warm cold"
  # Not counted: brings back into the page cache what the probe above dropped.
  check_run first 0
  for i in $(seq "$REPEAT"); do
    check_run warm "$i"
    if [ "$CHECK_COLD" = yes ]; then
      drop_caches || { echo "run.sh: dropping the page cache failed" >&2; exit 1; }
      check_run cold "$i"
    fi
  done
  for kind in $kinds; do
    s_med=$(median <"$WORK/check-$kind.times")
    for i in $(seq "$REPEAT"); do [ "$(field total_s "$WORK/check-$kind.$i")" = "$s_med" ] && MID=$i && break; done
    cp "$WORK/check-$kind.$MID" "$WORK/check-$kind.txt"
    note "check_${kind}_s" "$s_med"
    note "check_${kind}_runs_s" "$(paste -sd' ' "$WORK/check-$kind.times")"
    note "check_${kind}_process_s" "$(median <"$WORK/check-$kind-process.times")"
    note "check_${kind}_result" "$(field verify_result "$WORK/check-$kind.txt")"
    for k in stage_manifest_s stage_verify_s stage_finish_s cpu_user_s cpu_sys_s io_rchar io_read_bytes io_wchar \
      io_write_bytes; do
      note "check_${kind}_$k" "$(field $k "$WORK/check-$kind.txt")"
    done
    # Largest over the runs, as the target is for every check.
    note "check_${kind}_rchar_max" "$(for i in $(seq "$REPEAT"); do field io_rchar "$WORK/check-$kind.$i"; done | sort -g | tail -n1)"
    note "check_${kind}_read_bytes_max" "$(for i in $(seq "$REPEAT"); do field io_read_bytes "$WORK/check-$kind.$i"; done | sort -g | tail -n1)"
    note "check_${kind}_rchar_pct" "$(awk -v r="$(field io_rchar "$WORK/check-$kind.txt")" -v b="$CHECK_BYTES" 'BEGIN { printf "%.3f", 100 * r / b }')"
    note "check_${kind}_read_bytes_pct" "$(awk -v r="$(field io_read_bytes "$WORK/check-$kind.txt")" -v b="$CHECK_BYTES" 'BEGIN { printf "%.3f", 100 * r / b }')"
    note "check_${kind}_target" "$(awk -v s="$s_med" -v r="$(field io_rchar "$WORK/check-$kind.txt")" -v b="$CHECK_BYTES" \
      'BEGIN { print (s < 0.5 && 100 * r <= b) ? "met" : "missed" }')"
  done
  "$BENCH" run --mode verify --base "$BASE" --server "$CHECK_SERVER" --dir "$CHECK_DIR" >"$WORK/check-verify.txt"
  note check_verify_s "$(field total_s "$WORK/check-verify.txt")"
  note check_verify_result "$(field verify_result "$WORK/check-verify.txt")"
  note check_verify_io_rchar "$(field io_rchar "$WORK/check-verify.txt")"
  rm -rf "$CHECK_DIR" "$WORK/host/$CHECK_SERVER" "$WORK/host/$CHECK_SERVER.manifest"
  CHECK_DONE=yes
fi

# --- (g) one, two and three releases behind, with and without deltas --------
# (c) left the client at its next release; (g) starts from a copy of it.
delta_case "$WORK/client"

# --- where the CPU time goes (perf, when the kernel lets us sample) ---------
PERF_INSTALL=""
PERF_VERIFY=""
if command -v perf >/dev/null && perf record -q -o "$WORK/perf.probe" true >/dev/null 2>&1; then
  rm -rf "$WORK/install-perf"
  perf record -q -F 499 -o "$WORK/perf.install" -- \
    "$BENCH" run --mode install --base "$BASE" --server "$SERVER" --dir "$WORK/install-perf" >/dev/null 2>&1 || true
  perf record -q -F 499 -o "$WORK/perf.verify" -- \
    "$BENCH" run --mode verify --base "$BASE" --server "$SERVER" --dir "$WORK/install-perf" >/dev/null 2>&1 || true
  PERF_INSTALL=$(perf report -i "$WORK/perf.install" --stdio --no-children --sort dso 2>/dev/null | grep -v '^#' | grep -v '^$' | head -n 8 || true)
  PERF_VERIFY=$(perf report -i "$WORK/perf.verify" --stdio --no-children --sort dso 2>/dev/null | grep -v '^#' | grep -v '^$' | head -n 8 || true)
  rm -rf "$WORK/install-perf"
fi
LOAD_AFTER=$(loadavg)
note load_after "$LOAD_AFTER"

# --- the report ---------------------------------------------------------------
MIB=$(awk -v b="$BYTES" 'BEGIN { printf "%.1f", b / 1048576 }')
VERIFY_RATE=$(mibps "$BYTES" "$VERIFY_S")
MD5SUM_RATE=$(mibps "$BYTES" "$MD5SUM_S")
INSTALL_RATE=$(mibps "$BYTES" "$INSTALL_S")
CURL_RATE=$(mibps "$BYTES" "$CURL_S")
CPU_MODEL=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
MEM_TOTAL=$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
codec() { field "$1" "$WORK/codec.txt"; }

# A byte count for the reader: GiB, MiB or KiB with one decimal, or bytes.
size_text() {
  awk -v b="$1" 'BEGIN {
    if (b == "" || b !~ /^[0-9]+$/) print "n/a"
    else if (b >= 1073741824) printf "%.2f GiB", b / 1073741824
    else if (b >= 1048576) printf "%.1f MiB", b / 1048576
    else if (b >= 1024) printf "%.1f KiB", b / 1024
    else printf "%d bytes", b
  }'
}
kib_mib() { awk -v k="$1" 'BEGIN { if (k > 0) printf "%.0f MiB", k / 1024; else print "n/a" }'; }
if [ "$RSS_ALSO_DONE" = yes ]; then
  ALSO_MIB=$(awk -v b="$(field also_content_bytes "$RESULTS")" 'BEGIN { printf "%.1f", b / 1048576 }')
  ALSO_RANGE=$(field also_install_rss_range_kib "$RESULTS" | awk '{ printf "%.0f to %.0f MiB", $1 / 1024, $2 / 1024 }')
  RSS_ALSO_ROW="| \`--size $RSS_ALSO\` (generated and published the same way, installed $REPEAT times only for this)\
 | $ALSO_MIB MiB | $(kib_mib "$(field also_install_rss_kib "$RESULTS")") (runs: $ALSO_RANGE) |"
else
  RSS_ALSO_ROW="| second size not measured (BENCH_RSS_ALSO=${RSS_ALSO:-empty}) | | |"
fi

# The codec table: one row per way of compressing.
CODEC_ROWS=""
for c in $(codec codec_levels); do
  case "$c" in
    zlib*) label="zlib \`compress2\` / \`uncompress\`, level ${c#zlib}" ;;
    libdeflate*) label="libdeflate \`libdeflate_zlib_compress\` / \`libdeflate_zlib_decompress\`, level ${c#libdeflate}" ;;
    *) label=$c ;;
  esac
  CODEC_ROWS+="| $label | $(codec "codec_${c}_size_pct") % | $(codec "codec_${c}_compressible_size_pct") % | $(codec "codec_${c}_deflate_mibps") | $(codec "codec_${c}_inflate_mibps") |"$'\n'
done
CODEC_ROWS=$(printf '%s' "$CODEC_ROWS")

# The resume table: one row per trial.
RESUME_ROWS=$(awk -F'\t' -v whole="$WHOLE_SERVED" '
  function mib(b) { return sprintf("%.1f MiB", b / 1048576) }
  function share(b) { return sprintf("%.1f %%", 100 * b / whole) }
  { printf "| %s | %s (%s, %d files) | %s (%s staged) | %s (%s, %d files) | %s s | %d | %s |\n",
      $1, mib($2), share($2), $3, mib($4), mib($5), mib($6), share($6), $7, $8, $9, $11 }' "$WORK/resume.rows")

# (f): the update check of the large client.
r() { field "$1" "$RESULTS"; }
if [ "$CHECK_DONE" = yes ]; then
  pct_of_client() { awk -v v="$1" -v b="$(r check_client_bytes)" 'BEGIN { printf "%.3f %%", 100 * v / b }'; }
  check_row() {
    echo "| $2 | $(r "check_$1_s") s ($(r "check_$1_runs_s") s) | $(r "check_$1_process_s") s\
 | $(size_text "$(r "check_$1_io_rchar")") ($(pct_of_client "$(r "check_$1_io_rchar")")) | $(size_text "$(r "check_$1_io_read_bytes")") ($(pct_of_client "$(r "check_$1_io_read_bytes")"))\
 | $(size_text "$(r "check_$1_io_wchar")") | **$(r "check_$1_target")** |"
  }
  CHECK_ROWS=$(check_row warm "warm page cache")
  if [ "$CHECK_COLD" = yes ]; then
    CHECK_ROWS+=$'\n'$(check_row cold "after \`sync; echo 3 > /proc/sys/vm/drop_caches\`")
    CHECK_COLD_NOTE="Cold runs: the page cache was dropped right before each (the patch host's copy of the
manifest, the program and its libraries were read from the disk again too)."
  else
    CHECK_COLD_NOTE="Cold runs were not measured: this user may not write /proc/sys/vm/drop_caches."
  fi
  cat >"$WORK/check-section.md" <<SECTION
## (f) The update check of an up-to-date client

A client of its own, \`make_sample_client --out client-check --size $CHECK_SIZE --seed 1\`
($(r check_generate_s) s; $(cat "$WORK/generate-check.txt")), published as \`$SERVER-check\` ($(r check_publish_s) s) and installed
(Install mode, $(r check_install_s) s, which writes the record; peak memory $(kib_mib "$(r check_install_rss_kib)"),
written $(size_text "$(r check_install_write_bytes)") (\`write_bytes\`, $(ratio "$(r check_install_write_bytes)" "$(r check_client_bytes)")x the installation)):
$(r check_client_files) files, $(size_text "$(r check_client_bytes)") in the installation, the record $(size_text "$(r check_record_bytes)").

Then $REPEAT times, in turns: \`patch_bench run --mode update\` with a warm page cache, then the same
right after the page cache was dropped. Each run follows a run that wrote the record and nothing
changed in between. Target: under 0.5 s, reading at most 1 % of the client's bytes.

| page cache | the run's time, median (runs) | process start to exit | read: \`rchar\` (share of the client) | read from the disk: \`read_bytes\` | written: \`wchar\` | target |
|---|---|---|---|---|---|---|
$CHECK_ROWS

\`rchar\` is what the run asked the kernel to read (\`read\` and \`pread\`), wherever it came from;
\`read_bytes\` what came from the disk, which a warm page cache makes small, and which also counts
the pages of the program and its libraries first touched during the run (loaded by page faults,
never through \`read\`, so not in \`rchar\`). Both are the differences of \`/proc/self/io\` before and
after \`runPatch\`; the manifest arrives over a socket and is in neither. $CHECK_COLD_NOTE

- Result of every run: "$(r check_warm_result)".
- Stages (warm, the median run): manifest $(r check_warm_stage_manifest_s) s (fetching and parsing it, then
  loading the record), verification $(r check_warm_stage_verify_s) s, after it (orphan entries, writing the
  record) $(r check_warm_stage_finish_s) s; CPU user $(r check_warm_cpu_user_s) s, system $(r check_warm_cpu_sys_s) s.
  Largest \`rchar\` of all runs: $(size_text "$(r check_warm_rchar_max)") warm$( [ "$CHECK_COLD" = yes ] && echo ", $(size_text "$(r check_cold_rchar_max)") cold (\`read_bytes\` at most $(size_text "$(r check_cold_read_bytes_max)"))").
- The same check with every entry hashed (\`patch_bench run --mode verify\`, once, afterwards):
  $(r check_verify_s) s, read $(size_text "$(r check_verify_io_rchar)"); "$(r check_verify_result)".
SECTION
else
  printf '## (f) The update check of an up-to-date client\n\nNot measured (BENCH_CHECK_SIZE=%s).\n' \
    "${CHECK_SIZE:-empty}" >"$WORK/check-section.md"
fi

MEASURED=$WORK/performance-measured.md
cat >"$MEASURED" <<EOF
Measured by \`bash bench/run.sh $SIZE\` on $(date -u +%Y-%m-%d) (UTC). Every number below comes
from that one run; the raw figures are in \`$RESULTS\` of the machine that ran it.

## Machine

| | |
|---|---|
| CPU | $CPU_MODEL, $JOBS hardware threads (\`nproc\`) |
| Memory | $MEM_TOTAL |
| Kernel | $(uname -sr) |
| Build | $BUILD_TYPE ($BUILD_DIR), source $SOURCE |
| Load average (1, 5, 15 min) | before: $LOAD_BEFORE; after: $LOAD_AFTER |

A load average above the number of hardware threads means other work shared the CPUs during the
run; all figures are then lower than on an idle machine, for the engine and the reference tools alike.

## The client

\`make_sample_client --out client --size $SIZE --seed 1\` ($(field generate_s "$RESULTS") s), published with
\`publish_patch --client client --server $SERVER --root host\` ($(field publish_s "$RESULTS") s) and served by
\`patch_host --root host --bind 127.0.0.1 --port 0\`:

- $(cat "$WORK/generate.txt")
- $FILES files on the host, $MIB MiB of contents (loose files and archive members as plain files);
  the installed client holds $(awk -v b="$LOOSE_BYTES" 'BEGIN { printf "%.1f", b / 1048576 }') MiB of loose files and
  $(awk -v b="$PAK_BYTES" 'BEGIN { printf "%.1f", b / 1048576 }') MiB of ".pak" archives.
- Half of the archive members are text-like (compress to about a quarter), half random bytes.

Every timed command ran $REPEAT times; the tables give the median. MB/s below is MiB of file
contents (the $MIB MiB) per second, the same amount for both sides of each comparison.

## (a) Verifying a client that matches

| | time | throughput |
|---|---|---|
| runPatch, Verify mode: every entry hashed (\`patch_bench run --mode verify\`) | $VERIFY_S s | $VERIFY_RATE MiB/s |
| \`${MD5_CMD//|/\\|}\` | $MD5SUM_S s | $MD5SUM_RATE MiB/s |
| ratio engine / md5sum | | $(ratio "$VERIFY_RATE" "$MD5SUM_RATE") |
| runPatch, Update mode right after a run that wrote the record (\`patch_bench run --mode update\`) | $RECHECK_S s | |

Verify mode: "$(field verify_result "$RESULTS")". Stages: manifest $(field verify_stage_manifest_s "$RESULTS") s,
verification $(field verify_stage_verify_s "$RESULTS") s; CPU user $(field verify_cpu_user_s "$RESULTS") s,
system $(field verify_cpu_sys_s "$RESULTS") s; read $(size_text "$(field verify_io_rchar "$RESULTS")") (\`rchar\`).

Update mode with the record: "$(field recheck_result "$RESULTS")". Stages: manifest
$(field recheck_stage_manifest_s "$RESULTS") s, verification $(field recheck_stage_verify_s "$RESULTS") s; CPU user
$(field recheck_cpu_user_s "$RESULTS") s, system $(field recheck_cpu_sys_s "$RESULTS") s; read
$(size_text "$(field recheck_io_rchar "$RESULTS")") (\`rchar\`), written $(size_text "$(field recheck_io_wchar "$RESULTS")")
(\`wchar\`; the record, $(size_text "$(field record_bytes "$RESULTS")"), is written again by every run).

## (b) Installing from the patch host

| | time | throughput |
|---|---|---|
| runPatch, Install mode into an empty folder (\`patch_bench run --mode install\`) | $INSTALL_S s | $INSTALL_RATE MiB/s |
| \`$CURL_CMD\` (16 files per curl, connections reused) | $CURL_S s | $CURL_RATE MiB/s |
| ratio engine / curl | | $(ratio "$INSTALL_RATE" "$CURL_RATE") |

Peak resident memory of the install (\`/usr/bin/time -v\`, "Maximum resident set size", median of the
$REPEAT runs), at two client sizes:

| client | contents | peak resident memory |
|---|---|---|
| \`--size $SIZE\` (this client) | $MIB MiB | $(kib_mib "$INSTALL_RSS_KIB") |
$RSS_ALSO_ROW

Stages of the install: manifest $(field install_stage_manifest_s "$RESULTS") s, verification
$(field install_stage_verify_s "$RESULTS") s, download $(field install_stage_download_s "$RESULTS") s,
apply (moving loose files into place, finishing the archives assembled during the download)
$(field install_stage_apply_s "$RESULTS") s; CPU user $(field install_cpu_user_s "$RESULTS") s, system $(field install_cpu_sys_s "$RESULTS") s.
Written to the disk (\`write_bytes\` of the median run): $(size_text "$(field install_io_write_bytes "$RESULTS")"),
$(ratio "$(field install_io_write_bytes "$RESULTS")" "$(field install_client_bytes "$RESULTS")")x the installed client
($(size_text "$(field install_client_bytes "$RESULTS")"), the record left out; target at most 1.1x).

The same client published with \`--payload-all\` (every member as a single-file payload,
$(awk -v b="$PAK_SERVED_BYTES" 'BEGIN { printf "%.1f", b / 1048576 }') MiB served), installed the same way:
$PAK_INSTALL_S s, $(mibps "$BYTES" "$PAK_INSTALL_S") MiB/s of contents, download
$(field payload_install_stage_download_s "$RESULTS") s, apply $(field payload_install_stage_apply_s "$RESULTS") s,
CPU user $(field payload_install_cpu_user_s "$RESULTS") s; the same payload files fetched by \`xargs -0 -P$JOBS -n 48 curl\`
in turns with the installs: $(field payload_curl_s "$RESULTS") s, ratio engine / curl
$(ratio "$(field payload_curl_s "$RESULTS")" "$PAK_INSTALL_S") (target at least 1.0); written
$(size_text "$(field payload_install_io_write_bytes "$RESULTS")"), $(ratio "$(field payload_install_io_write_bytes "$RESULTS")" "$(field payload_client_bytes "$RESULTS")")x
the installed client; peak resident memory
$(awk -v k="$(field payload_install_rss_kib "$RESULTS")" 'BEGIN { printf "%.0f MiB", k / 1024 }'); verifying that
installation afterwards: $(field payload_verify_s "$RESULTS") s, "$(field payload_verify_result "$RESULTS")".

## (c) An update: 1% of the archive members and of the loose files changed

The next release is the client above after
\`make_sample_client --mutate client --members-percent 1 --loose-percent 1 --seed 11\`
($(cat "$WORK/mutate.txt")), published beside the first as \`$NEXT\`. The installation (the
first release, with the record of the last run of (a)) is updated to it; before each further run
it is updated back to the first release (those runs, not in the table: $(back="$(field update_back_runs_s "$RESULTS")"; [ -n "$back" ] && echo "$back s" || echo "no such run with one repetition")). curl
is given what the update fetches: the manifest and the $(($(field update_fetched_files "$RESULTS") - 1)) files whose MD5
changed, $(size_text "$(field update_fetched_bytes "$RESULTS")") in all, from a host of its own that logs every request:

\`\`\`
patch_bench curl-args --manifest host/$NEXT.manifest --changed-from host/$SERVER.manifest \\
  --with-manifest yes --base URL --server $NEXT --out curl-update >curl-update-args
$UPDATE_CURL_CMD
patch_bench run --mode update --base URL --server $NEXT --dir install
\`\`\`

| | |
|---|---|
| update (\`patch_bench run --mode update\`) | $UPDATE_S s (runs: $(field update_runs_s "$RESULTS") s) |
| \`$UPDATE_CURL_CMD\` | $UPDATE_CURL_S s (runs: $(field update_curl_runs_s "$RESULTS") s) |
| ratio update / curl | $(field update_over_curl "$RESULTS") |
| result | "$(field update_result "$RESULTS")" |
| manifest / verification / download / apply | $(field update_stage_manifest_s "$RESULTS") s / $(field update_stage_verify_s "$RESULTS") s / $(field update_stage_download_s "$RESULTS") s / $(field update_stage_apply_s "$RESULTS") s |
| CPU user / system | $(field update_cpu_user_s "$RESULTS") s / $(field update_cpu_sys_s "$RESULTS") s |
| peak resident memory | $(kib_mib "$UPDATE_RSS_KIB") |
| requests the host logged | $(field update_requests "$RESULTS") per update; the same files as curl in every run: $(field update_same_requests "$RESULTS"); answers other than a 200 to a GET: $(field update_not_get_200 "$RESULTS") |
| verifying the result afterwards (Verify mode) | "$(field after_update_result "$RESULTS")" |
| archives the update wrote | $(field affected_archives "$RESULTS") ($(size_text "$(field affected_bytes "$RESULTS")") now); launcher.log and the files' mtime/size/inode agree: $(field affected_agree "$RESULTS") |
| all archives, before the first timed update / after the last ($((2 * REPEAT - 1)) updates in all, counting those back) | $(size_text "$(field update_paks_bytes_first "$RESULTS")") / $(size_text "$(field update_paks_bytes_last "$RESULTS")") |

What the update wrote and read (\`/proc/self/io\` of \`patch_bench\`, before and after \`runPatch\`):

| | bytes |
|---|---|
| written: \`write_bytes\` (pages dirtied, as they will reach the disk) | $(size_text "$(field update_io_write_bytes "$RESULTS")") (runs: $(field update_write_bytes_runs "$RESULTS" | awk '{ for (i = 1; i <= NF; i++) printf "%s%.1f", (i > 1 ? ", " : ""), $i / 1048576 } END { print " MiB" }')) |
| written: \`wchar\` (bytes handed to \`write\`) | $(size_text "$(field update_io_wchar "$RESULTS")") |
| written, then deleted before it reached the disk (\`cancelled_write_bytes\`) | $(size_text "$(field update_io_cancelled_write_bytes "$RESULTS")") |
| the least an update writes: the changed members' stored bytes + the touched archives' directories + the changed loose files | $(size_text "$UPDATE_FLOOR") = $(size_text "$(field update_floor_changed_member_stored_bytes "$RESULTS")") ($(field update_floor_changed_members "$RESULTS") members) + $(size_text "$(field update_floor_touched_directory_bytes "$RESULTS")") ($(field update_floor_touched_archives "$RESULTS") archives, $(size_text "$(field update_floor_touched_archive_bytes "$RESULTS")") in all) + $(size_text "$(field update_floor_changed_loose_bytes "$RESULTS")") ($(field update_floor_changed_loose_files "$RESULTS") loose file(s)) |
| ratio \`write_bytes\` / that least | $(field update_written_over_floor "$RESULTS") |
| the record (\`.mendly-state\`, written by every run, not in the least above) | $(size_text "$(field update_record_bytes "$RESULTS")") |
| read: \`rchar\` (bytes asked of \`read\`) / \`read_bytes\` (from the disk) | $(size_text "$(field update_io_rchar "$RESULTS")") / $(size_text "$(field update_io_read_bytes "$RESULTS")") |

The members deleted in the next release ($(field update_floor_deleted_members "$RESULTS")) cost no bytes of their own, only the
directories of their archives. \`write_bytes\` counts a page when it is first dirtied, so a staged file
that is written and renamed counts once, one that is copied counts twice; curl writes each fetched
file once ($(size_text "$(field update_fetched_bytes "$RESULTS")")).

## (d) Resuming an install killed half-way

$REPEAT trials, each in an empty folder, against a patch host of its own that logs every request:

\`\`\`
patch_host --root host --bind 127.0.0.1 --port 0 --log 2>>host.log
patch_bench run --mode install --base URL --server $SERVER --dir install-resume &
#   SIGKILL once host.log shows half of the client's bytes answered 200 (polled every 50 ms)
: >host.log
patch_bench run --mode install --base URL --server $SERVER --dir install-resume
patch_bench run --mode verify --base URL --server $SERVER --dir install-resume
\`\`\`

Bytes served are the sizes of the files under \`host/\` that the logged GET requests answered 200
name; the whole client is $(awk -v b="$WHOLE_SERVED" 'BEGIN { printf "%.1f", b / 1048576 }') MiB ($(grep -vc /by-sha256/ "$WORK/served-sizes") files with the manifest). A
response cut short by the kill is logged as 200 too, so the first column may count a little more
than was delivered.

| trial | served before the kill | left on disk after the kill | served to the second run | second run | staged files left | verification afterwards |
|---|---|---|---|---|---|---|
$RESUME_ROWS

- The next run fetches at most $RESUME_PROMISE_PCT % of the bytes: **$RESUME_KEPT** (worst trial $RESUME_WORST_PCT %).
- Second run, median: $RESUME_SECOND_S s (a whole install: $INSTALL_S s).
- Verified afterwards: $RESUME_VERIFIED of $REPEAT trials.

$(cat "$WORK/latency-section.md")

$(cat "$WORK/check-section.md")

$(cat "$WORK/delta-section.md")

## Single-thread costs (\`patch_bench codec\`, $(codec codec_members) members, $(codec codec_content_mib) MiB of contents)

The sample is one member in every $(codec codec_sample_stride) of all archives, in directory order (all archives hold
$(codec codec_all_content_mib) MiB of contents), up to 256 MiB of contents.

| step | MiB/s of contents |
|---|---|
| read stored bytes (page cache) | $(codec codec_read_mibps) |
| inflate (the engine's \`expandStoredEntry\`; raw members are copied) | $(codec codec_inflate_mibps) |
| MD5 | $(codec codec_md5_mibps) |
| MD5, eight members side by side (\`Md5Lanes\`, as Verify hashes) | $(codec codec_md5_lanes_mibps) |
| compress (the engine's \`compressEntry\`; stored form $(codec codec_engine_stored_pct) % of the contents) | $(codec codec_deflate_mibps) |

### Compression levels

The same members' contents as zlib streams, one thread, each stream inflated again by the library
that wrote it and compared with the contents. "Compressible" are the $(codec codec_compressible_members)
members ($(codec codec_compressible_mib) MiB) that zlib at level 6 shrinks; the others are random bytes,
which no level shrinks.

| compressor, level | size, all members | size, compressible members | compress, MiB/s | inflate, MiB/s |
|---|---|---|---|---|
$CODEC_ROWS

## Where the CPU time goes (\`perf record -F 499\`, share of samples per library)

libz and libdeflate are compressing and inflating, libcrypto is the digests (in Verify the SHA-256 only: its MD5s
are hashed eight at a time in \`patch_bench\` itself), the kernel is file and socket I/O and page
faults, libc is copying and clearing buffers.

Install:

\`\`\`
${PERF_INSTALL:-perf sampling not available on this machine}
\`\`\`

Verification of the matching client:

\`\`\`
${PERF_VERIFY:-perf sampling not available on this machine}
\`\`\`
EOF

# The measured part replaces what stands between the two markers of the
# document; the written analysis around it stays.
mkdir -p "$(dirname "$OUT_DOC")"
BEGIN_MARK='<!-- measured:begin (written by bench/run.sh) -->'
END_MARK='<!-- measured:end -->'
if [ -f "$OUT_DOC" ] && grep -qF "$BEGIN_MARK" "$OUT_DOC" && grep -qF "$END_MARK" "$OUT_DOC"; then
  awk -v b="$BEGIN_MARK" -v e="$END_MARK" -v m="$MEASURED" '
    $0 == b { print; while ((getline line < m) > 0) print line; skip = 1; next }
    $0 == e { skip = 0 }
    !skip { print }' "$OUT_DOC" >"$OUT_DOC.new"
  mv "$OUT_DOC.new" "$OUT_DOC"
else
  { echo "# Performance"; echo; echo "$BEGIN_MARK"; cat "$MEASURED"; echo "$END_MARK"; } >"$OUT_DOC"
fi
echo "run.sh: wrote $OUT_DOC"

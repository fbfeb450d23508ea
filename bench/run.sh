#!/usr/bin/env bash
# Patch engine benchmark on loopback, side by side with the tools a user would
# otherwise reach for:
#   (a) verifying an installed, matching client (runPatch, Update mode) against
#       md5sum over the same bytes on all cores;
#   (b) a fresh install from the local patch host (runPatch, Install mode)
#       against curl fetching the same files on all cores, with peak memory;
#   (c) an update after 1% of the archive members changed, against cp of the
#       archives that update rewrote;
#   (d) an install killed (SIGKILL) once half of the client's bytes were
#       served, then run again into the same folder: what the second run
#       fetches, how long it takes, and whether the result verifies;
#   (e) a fresh install of a client of many small files from a host that
#       answers every request 50 ms late, as a distant one does, against curl
#       keeping as many transfers in flight as the engine does;
# plus the install's peak memory at a second client size, and single-thread
# codec figures with zlib and libdeflate at several compression levels.
# Results go to docs/performance.md (and the raw numbers to $WORK/results.txt).
#
#   bash bench/run.sh [SIZE]        SIZE of the sample client, default 1G
#
# Environment: BUILD_DIR (default build-bench, configured here as Release when
# it does not exist), BENCH_WORK (default /tmp/mendly-bench; needs about 4x
# SIZE of free disk), BENCH_REPEAT (runs of each timed command, default 3),
# BENCH_RSS_ALSO (default 1G: a second client of that size is generated,
# published and installed BENCH_REPEAT times only to measure the install's
# peak resident memory, to show it does not grow with the client; skipped when
# it equals SIZE or is "none"; needs about 2x that size of disk more),
# BENCH_LATENCY_FILES (files of the client of (e), default 2000).
#
#   BENCH_ONLY=latency bash bench/run.sh
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
# The share of the client's bytes a run after a kill at half may fetch again.
RESUME_PROMISE_PCT=55
ONLY=${BENCH_ONLY:-}
case "$ONLY" in
  "" | latency) ;;
  *) echo "run.sh: BENCH_ONLY is \"latency\" or unset, not \"$ONLY\"" >&2; exit 2 ;;
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
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", b - a }'; }
mibps() { awk -v bytes="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.1f", bytes / 1048576 / s; else print "n/a" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
field() { awk -v k="$1" '$1 == k { $1 = ""; sub(/^ /, ""); print; exit }' "$2"; }
loadavg() { cut -d' ' -f1-3 /proc/loadavg; }

# Every process started in the background here, stopped on any exit.
HOST_PID=
RESUME_HOST_PID=
LAT_HOST_PID=
INSTALL_PID=
stop() { if [ -n "$2" ]; then kill "-$1" "$2" 2>/dev/null || true; wait "$2" 2>/dev/null || true; fi; }
cleanup() {
  stop KILL "$INSTALL_PID"
  stop TERM "$LAT_HOST_PID"
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
  files=$(find "$root/$LAT_SERVER" -type f | wc -l)
  requests=$((files + 1))
  bytes=$(find "$root/$LAT_SERVER" "$root/$LAT_SERVER.manifest" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
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
  logged_requests() { settle "$log"; awk '{ print $2, $3, $4 }' "$log" | LC_ALL=C sort >"$1"; }
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
    curl_bytes=$(find "$scratch" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
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
  "$WORK/install-also" "$WORK/install-resume" "$WORK/copy" "$WORK"/update-log.*
rm -f "$WORK"/*.times "$WORK"/*.rss
t0=$(now)
"$GEN" --out "$WORK/client" --size "$SIZE" --seed 1 | tee "$WORK/generate.txt"
note generate_s "$(elapsed "$t0" "$(now)")"
t0=$(now)
"$PUBLISH" --client "$WORK/client" --server "$SERVER" --root "$WORK/host" --force | tee "$WORK/publish.txt"
note publish_s "$(elapsed "$t0" "$(now)")"

FILES=$(find "$WORK/host/$SERVER" -type f | wc -l)
BYTES=$(find "$WORK/host/$SERVER" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
PAK_BYTES=$(find "$WORK/client" -maxdepth 1 -name '*.pak' -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
LOOSE_BYTES=$(find "$WORK/client" -type f -printf '%s\n' | awk -v p="$PAK_BYTES" '{ s += $1 } END { print s - p }')
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
CURL_BYTES=$(find "$WORK/curl" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
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
for k in stage_manifest_s stage_verify_s stage_download_s stage_apply_s cpu_user_s cpu_sys_s; do
  note "install_$k" "$(field $k "$INSTALL")"
done

# The same client with every member delivered as a single-file payload: the
# install stores the payload bodies as they come instead of compressing.
"$PUBLISH" --client "$WORK/client" --server "$SERVER-pak" --root "$WORK/host" --force --payload-all \
  | tee "$WORK/publish-pak.txt"
PAK_SERVED_BYTES=$(find "$WORK/host/$SERVER-pak" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
note payload_served_bytes "$PAK_SERVED_BYTES"
for i in $(seq "$REPEAT"); do
  rm -rf "$WORK/install-pak"
  /usr/bin/time -v -o "$WORK/install-pak.time.$i" \
    "$BENCH" run --mode install --base "$BASE" --server "$SERVER-pak" --dir "$WORK/install-pak" >"$WORK/install-pak.$i"
  [ "$(field result "$WORK/install-pak.$i")" = ok ] || { cat "$WORK/install-pak.$i" >&2; exit 1; }
  field total_s "$WORK/install-pak.$i" >>"$WORK/install-pak.times"
done
PAK_INSTALL_S=$(median <"$WORK/install-pak.times")
for i in $(seq "$REPEAT"); do [ "$(field total_s "$WORK/install-pak.$i")" = "$PAK_INSTALL_S" ] && MID=$i && break; done
note payload_install_s "$PAK_INSTALL_S"
note payload_install_rss_kib "$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$WORK/install-pak.time.$MID")"
for k in stage_download_s stage_apply_s cpu_user_s; do note "payload_install_$k" "$(field $k "$WORK/install-pak.$MID")"; done
"$BENCH" run --mode update --base "$BASE" --server "$SERVER-pak" --dir "$WORK/install-pak" >"$WORK/verify-pak.txt"
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
  note also_content_bytes "$(find "$WORK/host/$SERVER-also" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')"
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
MD5_CMD="find host/$SERVER -type f -print0 | xargs -0 -P$JOBS -n 16 md5sum"
find "$WORK/host/$SERVER" -type f -print0 | xargs -0 -P"$JOBS" -n 16 md5sum >/dev/null  # warm-up
for i in $(seq "$REPEAT"); do
  t0=$(now)
  find "$WORK/host/$SERVER" -type f -print0 | xargs -0 -P"$JOBS" -n 16 md5sum >/dev/null
  elapsed "$t0" "$(now)" >>"$WORK/md5sum.times"
done
MD5SUM_S=$(median <"$WORK/md5sum.times")
note md5sum_s "$MD5SUM_S"

"$BENCH" run --mode update --base "$BASE" --server "$SERVER" --dir "$WORK/install" >"$WORK/verify.warm"
for i in $(seq "$REPEAT"); do
  "$BENCH" run --mode update --base "$BASE" --server "$SERVER" --dir "$WORK/install" >"$WORK/verify.$i"
  [ "$(field result "$WORK/verify.$i")" = ok ] || { cat "$WORK/verify.$i" >&2; exit 1; }
  field total_s "$WORK/verify.$i" >>"$WORK/verify.times"
done
VERIFY_S=$(median <"$WORK/verify.times")
for i in $(seq "$REPEAT"); do [ "$(field total_s "$WORK/verify.$i")" = "$VERIFY_S" ] && MID=$i && break; done
VERIFY=$WORK/verify.$MID
note verify_s "$VERIFY_S"
note verify_result "$(field verify_result "$VERIFY")"
for k in stage_manifest_s stage_verify_s cpu_user_s cpu_sys_s; do note "verify_$k" "$(field $k "$VERIFY")"; done

# --- single-thread codec figures on the installed archives -----------------
"$BENCH" codec --dir "$WORK/install" --limit $((256 << 20)) >"$WORK/codec.txt"
cat "$WORK/codec.txt" >>"$RESULTS"

# --- (c) update after 1% of the archive members changed --------------------
# The same members change before every run (the mutation picks by seed and
# member names, and each update restores the names), so the runs repeat.
# launcher.log names the archives each update rewrote; the archives' mtime,
# size and inode before and after say the same from outside.
pak_state() { find "$WORK/install" -maxdepth 1 -name '*.pak' -printf '%p\t%T@ %s %i\n'; }
for i in $(seq "$REPEAT"); do
  "$GEN" --mutate "$WORK/install" --members-percent 1 --seed 11 >"$WORK/mutate.$i"
  pak_state >"$WORK/paks.before.$i"
  rm -rf "$WORK/update-log.$i"
  mkdir -p "$WORK/update-log.$i"
  /usr/bin/time -v -o "$WORK/update.time.$i" \
    "$BENCH" run --mode update --base "$BASE" --server "$SERVER" --dir "$WORK/install" --log "$WORK/update-log.$i" \
    >"$WORK/update.$i"
  [ "$(field result "$WORK/update.$i")" = ok ] || { cat "$WORK/update.$i" >&2; exit 1; }
  pak_state >"$WORK/paks.after.$i"
  field total_s "$WORK/update.$i" >>"$WORK/update.times"
done
cp "$WORK/mutate.1" "$WORK/mutate.txt"
UPDATE_S=$(median <"$WORK/update.times")
for i in $(seq "$REPEAT"); do [ "$(field total_s "$WORK/update.$i")" = "$UPDATE_S" ] && MID=$i && break; done
cp "$WORK/update.$MID" "$WORK/update.txt"
UPDATE_RSS_KIB=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$WORK/update.time.$MID")
note update_s "$UPDATE_S"
note update_rss_kib "$UPDATE_RSS_KIB"
note update_result "$(field verify_result "$WORK/update.txt")"
for k in stage_manifest_s stage_verify_s stage_download_s stage_apply_s cpu_user_s cpu_sys_s; do
  note "update_$k" "$(field $k "$WORK/update.txt")"
done
"$BENCH" run --mode update --base "$BASE" --server "$SERVER" --dir "$WORK/install" >"$WORK/after-update.txt"
note after_update_result "$(field verify_result "$WORK/after-update.txt")"

# The archives the median run rewrote, by its log and by their file state.
sed -n 's/^.*Updating archive: \(.*\) (.*$/\1/p' "$WORK/update-log.$MID/launcher.log" | LC_ALL=C sort -u \
  >"$WORK/affected.log"
# Changed or new: an archive that appeared counts as rewritten too.
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
[ "${#AFFECTED[@]}" -eq 0 ] || AFFECTED_BYTES=$(stat -c %s -- "${AFFECTED[@]}" | awk '{ s += $1 } END { print s }')
note affected_archives "${#AFFECTED[@]}"
note affected_bytes "$AFFECTED_BYTES"

# cp of those archives, on a warm page cache, without sync. --reflink=never:
# on a file system that shares extents, cp would otherwise copy no bytes.
CP_CMD="cp --reflink=never <the ${#AFFECTED[@]} archives> copy/"
CP_S=n/a
if [ "${#AFFECTED[@]}" -gt 0 ]; then
  cat -- "${AFFECTED[@]}" >/dev/null
  for i in $(seq "$REPEAT"); do
    rm -rf "$WORK/copy"
    mkdir -p "$WORK/copy"
    t0=$(now)
    cp --reflink=never -- "${AFFECTED[@]}" "$WORK/copy/"
    elapsed "$t0" "$(now)" >>"$WORK/cp.times"
  done
  rm -rf "$WORK/copy"
  CP_S=$(median <"$WORK/cp.times")
fi
note cp_affected_s "$CP_S"
note update_over_cp "$(ratio "$UPDATE_S" "$CP_S")"
note update_apply_over_cp "$(ratio "$(field update_stage_apply_s "$RESULTS")" "$CP_S")"

# --- (d) an install killed half-way, then run again -------------------------
# A host of its own, whose request log ("addr METHOD target status") gives what
# each run was served: the sizes of the files under host/ that the logged GETs
# answered 200 name. The log is appended to, so it can be emptied between runs.
(cd "$WORK/host" && find "$SERVER" "$SERVER.manifest" -type f -printf '/%p\t%s\n') >"$WORK/served-sizes"
WHOLE_SERVED=$(awk -F'\t' '{ s += $2 } END { print s }' "$WORK/served-sizes")
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
    END { printf "%d %d %d\n", bytes, files, unknown }' FS='\t' "$WORK/served-sizes" FS=' ' "$1"
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
    kept_bytes=$(find "$RESUME_DIR" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  [ ! -d "$RESUME_DIR/.mendly-staging" ] ||
    staged_bytes=$(find "$RESUME_DIR/.mendly-staging" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')

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
  "$BENCH" run --mode update --base "$RBASE" --server "$SERVER" --dir "$RESUME_DIR" >"$WORK/resume-verify.$i"
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

# --- where the CPU time goes (perf, when the kernel lets us sample) ---------
PERF_INSTALL=""
PERF_VERIFY=""
if command -v perf >/dev/null && perf record -q -o "$WORK/perf.probe" true >/dev/null 2>&1; then
  rm -rf "$WORK/install-perf"
  perf record -q -F 499 -o "$WORK/perf.install" -- \
    "$BENCH" run --mode install --base "$BASE" --server "$SERVER" --dir "$WORK/install-perf" >/dev/null 2>&1 || true
  perf record -q -F 499 -o "$WORK/perf.verify" -- \
    "$BENCH" run --mode update --base "$BASE" --server "$SERVER" --dir "$WORK/install-perf" >/dev/null 2>&1 || true
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
| Build | $BUILD_TYPE ($BUILD_DIR) |
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
| runPatch, Update mode, nothing to patch (\`patch_bench run --mode update\`) | $VERIFY_S s | $VERIFY_RATE MiB/s |
| \`${MD5_CMD//|/\\|}\` | $MD5SUM_S s | $MD5SUM_RATE MiB/s |
| ratio engine / md5sum | | $(ratio "$VERIFY_RATE" "$MD5SUM_RATE") |

Result: "$(field verify_result "$RESULTS")". Stages: manifest $(field verify_stage_manifest_s "$RESULTS") s,
verification $(field verify_stage_verify_s "$RESULTS") s; CPU user $(field verify_cpu_user_s "$RESULTS") s,
system $(field verify_cpu_sys_s "$RESULTS") s.

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
apply (writing loose files, compressing members, writing archives) $(field install_stage_apply_s "$RESULTS") s;
CPU user $(field install_cpu_user_s "$RESULTS") s, system $(field install_cpu_sys_s "$RESULTS") s.

The same client published with \`--payload-all\` (every member as a single-file payload,
$(awk -v b="$PAK_SERVED_BYTES" 'BEGIN { printf "%.1f", b / 1048576 }') MiB served), installed the same way:
$PAK_INSTALL_S s, $(mibps "$BYTES" "$PAK_INSTALL_S") MiB/s of contents, download
$(field payload_install_stage_download_s "$RESULTS") s, apply $(field payload_install_stage_apply_s "$RESULTS") s,
CPU user $(field payload_install_cpu_user_s "$RESULTS") s, peak resident memory
$(awk -v k="$(field payload_install_rss_kib "$RESULTS")" 'BEGIN { printf "%.0f MiB", k / 1024 }'); verifying that
installation afterwards: $(field payload_verify_s "$RESULTS") s, "$(field payload_verify_result "$RESULTS")".

## (c) Update after 1% of the archive members changed

\`make_sample_client --mutate install --members-percent 1 --seed 11\` before each run (the same
members every time): $(cat "$WORK/mutate.txt")

| | |
|---|---|
| total (\`patch_bench run --mode update\`) | $(field update_s "$RESULTS") s |
| result | "$(field update_result "$RESULTS")" |
| manifest / verification / download / apply | $(field update_stage_manifest_s "$RESULTS") s / $(field update_stage_verify_s "$RESULTS") s / $(field update_stage_download_s "$RESULTS") s / $(field update_stage_apply_s "$RESULTS") s |
| peak resident memory | $(kib_mib "$UPDATE_RSS_KIB") |
| the next run | "$(field after_update_result "$RESULTS")" |
| archives the update rewrote | $(field affected_archives "$RESULTS") ($(awk -v b="$(field affected_bytes "$RESULTS")" 'BEGIN { printf "%.1f", b / 1048576 }') MiB); launcher.log and the files' mtime/size/inode agree: $(field affected_agree "$RESULTS") |
| \`$CP_CMD\` (warm page cache, no sync) | $CP_S s |
| ratio update / cp (target: at most 1.5) | $(field update_over_cp "$RESULTS") |
| ratio apply stage / cp | $(field update_apply_over_cp "$RESULTS") |

The update also fetches the manifest and verifies the whole client before it rewrites anything;
the apply stage alone is what compares with copying the same archives.

## (d) Resuming an install killed half-way

$REPEAT trials, each in an empty folder, against a patch host of its own that logs every request:

\`\`\`
patch_host --root host --bind 127.0.0.1 --port 0 --log 2>>host.log
patch_bench run --mode install --base URL --server $SERVER --dir install-resume &
#   SIGKILL once host.log shows half of the client's bytes answered 200 (polled every 50 ms)
: >host.log
patch_bench run --mode install --base URL --server $SERVER --dir install-resume
patch_bench run --mode update --base URL --server $SERVER --dir install-resume
\`\`\`

Bytes served are the sizes of the files under \`host/\` that the logged GET requests answered 200
name; the whole client is $(awk -v b="$WHOLE_SERVED" 'BEGIN { printf "%.1f", b / 1048576 }') MiB ($(wc -l <"$WORK/served-sizes") files with the manifest). A
response cut short by the kill is logged as 200 too, so the first column may count a little more
than was delivered.

| trial | served before the kill | left on disk after the kill | served to the second run | second run | staged files left | verification afterwards |
|---|---|---|---|---|---|---|
$RESUME_ROWS

- The next run fetches at most $RESUME_PROMISE_PCT % of the bytes: **$RESUME_KEPT** (worst trial $RESUME_WORST_PCT %).
- Second run, median: $RESUME_SECOND_S s (a whole install: $INSTALL_S s).
- Verified afterwards: $RESUME_VERIFIED of $REPEAT trials.

$(cat "$WORK/latency-section.md")

## Single-thread costs (\`patch_bench codec\`, $(codec codec_members) members, $(codec codec_content_mib) MiB of contents)

The sample is one member in every $(codec codec_sample_stride) of all archives, in directory order (all archives hold
$(codec codec_all_content_mib) MiB of contents), up to 256 MiB of contents.

| step | MiB/s of contents |
|---|---|
| read stored bytes (page cache) | $(codec codec_read_mibps) |
| inflate (the engine's \`expandStoredEntry\`; raw members are copied) | $(codec codec_inflate_mibps) |
| MD5 | $(codec codec_md5_mibps) |
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

libz and libdeflate are compressing and inflating, libcrypto is MD5, the kernel is file and socket I/O and page
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

#!/usr/bin/env bash
# Patch engine benchmark on loopback, side by side with the tools a user would
# otherwise reach for:
#   (a) verifying an installed, matching client (runPatch, Update mode) against
#       md5sum over the same bytes on all cores;
#   (b) a fresh install from the local patch host (runPatch, Install mode)
#       against curl fetching the same files on all cores, with peak memory;
#   (c) an update after 1% of the archive members changed.
# Results go to docs/performance.md (and the raw numbers to $WORK/results.txt).
#
#   bash bench/run.sh [SIZE]        SIZE of the sample client, default 1G
#
# Environment: BUILD_DIR (default build-bench, configured here as Release when
# it does not exist), BENCH_WORK (default /tmp/mendly-bench; needs about 4x
# SIZE of free disk), BENCH_REPEAT (runs of each timed command, default 3).
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

for tool in md5sum curl xargs find awk; do
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
: >"$RESULTS"
note() { echo "$1 $2" | tee -a "$RESULTS"; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", b - a }'; }
mibps() { awk -v bytes="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.1f", bytes / 1048576 / s; else print "n/a" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
field() { awk -v k="$1" '$1 == k { $1 = ""; sub(/^ /, ""); print; exit }' "$2"; }
loadavg() { cut -d' ' -f1-3 /proc/loadavg; }

HOST_PID=
cleanup() { if [ -n "$HOST_PID" ]; then kill "$HOST_PID" 2>/dev/null || true; wait "$HOST_PID" 2>/dev/null || true; fi; }
trap cleanup EXIT

LOAD_BEFORE=$(loadavg)
note load_before "$LOAD_BEFORE"

# --- the sample client and its publication ---------------------------------
rm -rf "$WORK/client" "$WORK/host" "$WORK/install" "$WORK/install-pak" "$WORK/curl"
rm -f "$WORK"/*.times
t0=$(now)
"$GEN" --out "$WORK/client" --size "$SIZE" --seed 1 | tee "$WORK/generate.txt"
note generate_s "$(elapsed "$t0" "$(now)")"
t0=$(now)
"$PUBLISH" --client "$WORK/client" --server "$SERVER" --root "$WORK/host" --force | tee "$WORK/publish.txt"
note publish_s "$(elapsed "$t0" "$(now)")"

FILES=$(find "$WORK/host/$SERVER" -type f | wc -l)
BYTES=$(find "$WORK/host/$SERVER" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
LOOSE_BYTES=$(du -sb --exclude='*.pak' "$WORK/client" | cut -f1)
PAK_BYTES=$(find "$WORK/client" -maxdepth 1 -name '*.pak' -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
note files "$FILES"
note content_bytes "$BYTES"
note client_loose_bytes "$LOOSE_BYTES"
note client_pak_bytes "$PAK_BYTES"

"$HOST" --root "$WORK/host" --bind 127.0.0.1 --port 0 >"$WORK/host.out" 2>"$WORK/host.err" &
HOST_PID=$!
for _ in $(seq 100); do [ -s "$WORK/host.out" ] && break; sleep 0.1; done
BASE=$(head -n1 "$WORK/host.out")
[ -n "$BASE" ] || { echo "run.sh: patch_host did not start: $(cat "$WORK/host.err")" >&2; exit 1; }
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
done
INSTALL_S=$(median <"$WORK/install.times")
# The run whose time is the median, for its stage split and memory.
for i in $(seq "$REPEAT"); do [ "$(field total_s "$WORK/install.$i")" = "$INSTALL_S" ] && MID=$i && break; done
INSTALL=$WORK/install.$MID
INSTALL_RSS_KIB=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$WORK/install.time.$MID")
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
rm -rf "$WORK/install-pak"

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
"$GEN" --mutate "$WORK/install" --members-percent 1 --seed 11 | tee "$WORK/mutate.txt"
/usr/bin/time -v -o "$WORK/update.time" \
  "$BENCH" run --mode update --base "$BASE" --server "$SERVER" --dir "$WORK/install" >"$WORK/update.txt"
[ "$(field result "$WORK/update.txt")" = ok ] || { cat "$WORK/update.txt" >&2; exit 1; }
UPDATE_RSS_KIB=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$WORK/update.time")
note update_s "$(field total_s "$WORK/update.txt")"
note update_rss_kib "$UPDATE_RSS_KIB"
note update_result "$(field verify_result "$WORK/update.txt")"
for k in stage_manifest_s stage_verify_s stage_download_s stage_apply_s cpu_user_s cpu_sys_s; do
  note "update_$k" "$(field $k "$WORK/update.txt")"
done
"$BENCH" run --mode update --base "$BASE" --server "$SERVER" --dir "$WORK/install" >"$WORK/after-update.txt"
note after_update_result "$(field verify_result "$WORK/after-update.txt")"

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

Peak resident memory of the install (\`/usr/bin/time -v\`, "Maximum resident set size"):
$(awk -v k="$INSTALL_RSS_KIB" 'BEGIN { printf "%.0f MiB", k / 1024 }') for $MIB MiB of contents.

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

\`make_sample_client --mutate install --members-percent 1 --seed 11\`: $(cat "$WORK/mutate.txt")

| | |
|---|---|
| total | $(field update_s "$RESULTS") s |
| result | "$(field update_result "$RESULTS")" |
| manifest / verification / download / apply | $(field update_stage_manifest_s "$RESULTS") s / $(field update_stage_verify_s "$RESULTS") s / $(field update_stage_download_s "$RESULTS") s / $(field update_stage_apply_s "$RESULTS") s |
| peak resident memory | $(awk -v k="$UPDATE_RSS_KIB" 'BEGIN { printf "%.0f MiB", k / 1024 }') |
| the next run | "$(field after_update_result "$RESULTS")" |

## Single-thread costs (\`patch_bench codec\`, $(codec codec_members) members, $(codec codec_content_mib) MiB of contents)

| step | MiB/s of contents |
|---|---|
| read stored bytes (page cache) | $(codec codec_read_mibps) |
| inflate (zlib uncompress) | $(codec codec_inflate_mibps) |
| MD5 | $(codec codec_md5_mibps) |
| compress (zlib compress2, default level) | $(codec codec_deflate_mibps) |

## Where the CPU time goes (\`perf record -F 499\`, share of samples per library)

libz is compressing and inflating, libcrypto is MD5, the kernel is file and socket I/O and page
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

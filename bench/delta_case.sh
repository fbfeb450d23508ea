# Section (g) of bench/run.sh, sourced by it (uses its helpers: note, now,
# elapsed, ratio, field, start_host, stop, settle, loadavg and its variables).
#
# A player one, two and three releases behind, with and without deltas:
# the client (a copy of $1) is published as release 1 twice, as $SERVER-d
# with the publisher's deltas (--deltas-from 3) and as $SERVER-w without
# (--deltas-from 0); three installations of each start at release 1. Then
# three times: `make_sample_client --mutate --edit` (1% of members and of
# loose files, each edited by about 2% of its bytes), publish both, and bring
# the installations that are to stay fewer releases behind up to date. At
# release 4, each installation is updated (timed) and the host's log gives
# the bytes it served; BENCH_REPEAT times, each further run after updating
# the installation back to where it was (from $SERVER-b<release>, the same
# releases published once more without deltas; not timed), so the times are
# medians. Side by side: `zstd --patch-from` at the same level on the same
# files, by hand, one file at a time.
# Raw numbers go to $RESULTS (delta_*), the section to $WORK/delta-section.md.

DELTA_LEVEL=$(sed -n 's/^inline constexpr int kDeltaLevel = \([0-9][0-9]*\);.*/\1/p' \
  "$REPO/core/patch/vfile/delta_codec.h")

# delta_served LOG ROOT: bytes of the files under ROOT that LOG's GETs
# answered 200 name.
delta_served() {
  settle "$1"
  (cd "$2" && find . -type f -printf '/%P\t%s\n') |
    awk -F'\t' 'NR == FNR { size[$1] = $2; next } $2 == "GET" && $4 == 200 { s += size[$3] }
                END { printf "%.0f\n", s }' - FS=' ' "$1"
}

# delta_pairs OLD_MANIFEST NEW_MANIFEST ROOT/S: "old<TAB>new" files of every
# entry both list with other content.
delta_pairs() {
  python3 - "$1" "$2" "$3" <<'PY'
import json, sys
old = {e["relative"]: e for e in json.load(open(sys.argv[1]))["files"]}
for e in json.load(open(sys.argv[2]))["files"]:
    o = old.get(e["relative"])
    if o and o["sha256"] != e["sha256"] and "pak_" not in e["relative"]:
        print(f'{sys.argv[3]}/{o["served"]}\t{sys.argv[3]}/{e["served"]}\t{e["size"]}')
PY
}

delta_case() {
  local source=$1 client=$WORK/dclient root=$WORK/dhost log=$WORK/dhost.log
  local d=$SERVER-d w=$SERVER-w base r k kind t0
  rm -rf "$client" "$root" "$WORK"/dinst-* "$WORK/dzstd"
  note delta_load_before "$(loadavg)"
  cp -a "$source" "$client"
  "$PUBLISH" --client "$client" --server "$d" --root "$root" --force --release 1 >"$WORK/dpublish-d.1"
  "$PUBLISH" --client "$client" --server "$w" --root "$root" --force --release 1 --deltas-from 0 >"$WORK/dpublish-w.1"
  cp "$root/$d.manifest" "$WORK/dmanifest.1"
  # Where an installation goes back to between timed runs: release r as it was.
  "$PUBLISH" --client "$client" --server "$SERVER-b1" --root "$root" --force --release 1 --deltas-from 0 >/dev/null
  : >"$log"
  start_host "$root" "$WORK/dhost.out" "$log" --log
  local host_pid=$STARTED_PID
  base=$(head -n1 "$WORK/dhost.out")
  for kind in d w; do
    for k in 1 2 3; do
      "$BENCH" run --mode install --base "$base" --server "$SERVER-$kind" --dir "$WORK/dinst-$kind$k" >"$WORK/dinstall.$kind$k"
      [ "$(field result "$WORK/dinstall.$kind$k")" = ok ] || { cat "$WORK/dinstall.$kind$k" >&2; exit 1; }
    done
  done
  # Release r; then the installations to stay 3 - r + 1 ... behind follow.
  for r in 2 3 4; do
    "$GEN" --mutate "$client" --members-percent 1 --loose-percent 1 --edit --seed "$((20 + r))" >"$WORK/dmutate.$r"
    printf 'Kaltris Nexum-3.0.%d\r\n' "$r" >"$client/_version._"
    t0=$(now)
    "$PUBLISH" --client "$client" --server "$d" --root "$root" --force --release "$r" >"$WORK/dpublish-d.$r"
    note "delta_publish_r${r}_s" "$(elapsed "$t0" "$(now)")"
    "$PUBLISH" --client "$client" --server "$w" --root "$root" --force --release "$r" --deltas-from 0 >"$WORK/dpublish-w.$r"
    cp "$root/$d.manifest" "$WORK/dmanifest.$r"
    [ "$r" = 4 ] && break
    "$PUBLISH" --client "$client" --server "$SERVER-b$r" --root "$root" --force --release "$r" --deltas-from 0 >/dev/null
    for kind in d w; do
      for k in $(seq 1 $((4 - r))); do
        "$BENCH" run --mode update --base "$base" --server "$SERVER-$kind" --dir "$WORK/dinst-$kind$k" >/dev/null
      done
    done
  done
  grep -h '^Deltas:' "$WORK"/dpublish-d.[234] >"$WORK/dpublish.deltas" || true

  # Behind by k: installation k is at release 4 - k.
  local rows="" behind served secs rss whole_secs whole_served zstd_bytes changed_bytes pairs
  local i mid
  for k in 1 2 3; do
    for kind in d w; do
      : >"$WORK/dupdate.$kind$k.times"
      for i in $(seq "$REPEAT"); do
        if [ "$i" -gt 1 ]; then
          "$BENCH" run --mode update --base "$base" --server "$SERVER-b$((4 - k))" --dir "$WORK/dinst-$kind$k" \
            >"$WORK/dback.$kind$k"
          [ "$(field result "$WORK/dback.$kind$k")" = ok ] || { cat "$WORK/dback.$kind$k" >&2; exit 1; }
        fi
        : >"$log"
        rm -rf "$WORK/dinst-log-$kind$k"
        mkdir -p "$WORK/dinst-log-$kind$k"
        sync  # what publishing and the last run left to write is not this run's to flush
        /usr/bin/time -v -o "$WORK/dupdate.$kind$k.time.$i" \
          "$BENCH" run --mode update --base "$base" --server "$SERVER-$kind" --dir "$WORK/dinst-$kind$k" \
          --log "$WORK/dinst-log-$kind$k" >"$WORK/dupdate.$kind$k.$i"
        [ "$(field result "$WORK/dupdate.$kind$k.$i")" = ok ] || { cat "$WORK/dupdate.$kind$k.$i" >&2; exit 1; }
        field total_s "$WORK/dupdate.$kind$k.$i" >>"$WORK/dupdate.$kind$k.times"
        delta_served "$log" "$root" >"$WORK/dupdate.$kind$k.served.$i"
      done
      secs=$(median <"$WORK/dupdate.$kind$k.times")
      for i in $(seq "$REPEAT"); do [ "$(field total_s "$WORK/dupdate.$kind$k.$i")" = "$secs" ] && mid=$i && break; done
      note "delta_${kind}${k}_s" "$secs"
      note "delta_${kind}${k}_runs_s" "$(paste -sd' ' "$WORK/dupdate.$kind$k.times")"
      note "delta_${kind}${k}_served" "$(cat "$WORK/dupdate.$kind$k.served.$mid")"
      note "delta_${kind}${k}_rss_kib" \
        "$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$WORK/dupdate.$kind$k.time.$mid")"
    done
    # zstd by hand on the same files: release 4 - k to release 4.
    mkdir -p "$WORK/dzstd"
    delta_pairs "$WORK/dmanifest.$((4 - k))" "$WORK/dmanifest.4" "$root/$d" >"$WORK/dpairs.$k"
    zstd_bytes=0
    changed_bytes=0
    pairs=0
    while IFS=$'\t' read -r old new size; do
      zstd -q -f "-$DELTA_LEVEL" --patch-from="$old" "$new" -o "$WORK/dzstd/out"
      zstd_bytes=$((zstd_bytes + $(stat -c %s "$WORK/dzstd/out")))
      changed_bytes=$((changed_bytes + size))
      pairs=$((pairs + 1))
    done <"$WORK/dpairs.$k"
    note "delta_zstd${k}_bytes" "$zstd_bytes"
    note "delta_changed${k}_bytes" "$changed_bytes"
    note "delta_changed${k}_files" "$pairs"
    served=$(field "delta_d${k}_served" "$RESULTS")
    whole_served=$(field "delta_w${k}_served" "$RESULTS")
    secs=$(field "delta_d${k}_s" "$RESULTS")
    whole_secs=$(field "delta_w${k}_s" "$RESULTS")
    rss=$(field "delta_d${k}_rss_kib" "$RESULTS")
    # The manifest is fetched whole either way; the deltas are the rest.
    local manifest_bytes deltas_only
    manifest_bytes=$(stat -c %s "$root/$d.manifest")
    deltas_only=$((served - manifest_bytes))
    note "delta_d${k}_manifest_bytes" "$manifest_bytes"
    rows+="| $k | $pairs | $(awk -v b="$changed_bytes" 'BEGIN { printf "%.1f", b / 1048576 }') MiB"
    rows+=" | $(awk -v b="$whole_served" 'BEGIN { printf "%.2f", b / 1048576 }') MiB, $whole_secs s"
    rows+=" | $(awk -v b="$served" 'BEGIN { printf "%.2f", b / 1048576 }') MiB, $secs s"
    rows+=" (manifest $(awk -v b="$manifest_bytes" 'BEGIN { printf "%.2f", b / 1048576 }') MiB)"
    rows+=" | $(awk -v b="$deltas_only" -v c="$changed_bytes" 'BEGIN { if (c > 0) printf "%.1f %%", 100 * b / c; else print "n/a" }')"
    rows+=" | $(awk -v b="$zstd_bytes" 'BEGIN { printf "%.3f", b / 1048576 }') MiB"
    rows+=" | $(ratio "$deltas_only" "$zstd_bytes") | $(ratio "$secs" "$whole_secs")"
    rows+=" (runs: $(field "delta_d${k}_runs_s" "$RESULTS") against $(field "delta_w${k}_runs_s" "$RESULTS") s)"
    rows+=" | $((rss / 1024)) MiB |"$'\n'
  done
  stop TERM "$host_pid"
  [ -n "${BENCH_KEEP:-}" ] || rm -rf "$WORK"/dinst-* "$WORK/dzstd" "$client" "$root"
  note delta_load_after "$(loadavg)"

  cat >"$WORK/delta-section.md" <<EOF
## (g) A player one, two and three releases behind, with and without deltas

The client of (b), published as release 1 twice: with the publisher's deltas (\`--deltas-from 3\`, the
default) and without (\`--deltas-from 0\`). Then three releases, each made by
\`make_sample_client --mutate --edit --members-percent 1 --loose-percent 1\` (every member or file
touched is edited inside: about 2 % of its bytes changed in place, inserted and removed) and a new
\`_version._\`, published both ways; installations that are to stay fewer releases behind were
updated after each. Then each installation is updated to release 4 (\`patch_bench run --mode
update\`), $REPEAT times: before each further run it was updated back to the release it started from,
published once more without deltas (not timed). Time: the median run's; bytes: what the host's log
says it served, manifest included; "deltas fetched" leaves the manifest out, which both ways fetch
whole.
\`zstd --patch-from\` at the engine's level ($DELTA_LEVEL), run by hand on each changed file (the
content the installation holds and the content of release 4), is the side-by-side figure for the
deltas alone.

| releases behind | changed files | their whole size | update without deltas: fetched, time | with deltas: fetched, time | deltas fetched / whole size | \`zstd --patch-from\` | deltas / zstd | time with / without | peak RSS with deltas |
|---|---|---|---|---|---|---|---|---|---|
$rows
Publishing the deltas (\`publish_patch\`'s own line, releases 2 to 4):

\`\`\`
$(cat "$WORK/dpublish.deltas")
\`\`\`

Peak RSS counts the pages of installed files a rebuild reads through its mapping, which are the
page cache's, not the run's own memory. Load average before this case: $(field delta_load_before "$RESULTS");
after: $(field delta_load_after "$RESULTS").
EOF
}

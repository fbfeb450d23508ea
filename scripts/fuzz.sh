#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for the given number of seconds.
# Usage: scripts/fuzz.sh [seconds-per-target, default 60] [target-name ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"; shift || true
# clang and its libFuzzer runtime are only needed here.
missing=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "fuzz: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
dir=build-fuzz
# Every library gets libFuzzer's coverage instrumentation (fuzzer-no-link), not
# only the target's own source: without it the fuzzer sees no new paths inside
# the parsers it drives and mutates blindly.
# -O1 with line tables only: the targets run seconds to minutes, and the
# build is most of a short run's time.
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DMENDLY_FUZZ=ON -DMENDLY_BUILD_LAUNCHER=OFF -DMENDLY_SANITIZE=address,undefined >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"
status=0
for t in "${targets[@]}"; do
  seeds="fuzz/corpus/${t%_fuzz}"
  work="$dir/corpus/$t"
  mkdir -p "$work"
  echo "== $t for ${seconds}s"
  args=("$work")
  [ -d "$seeds" ] && args+=("$seeds")
  if ! "$dir/fuzz/$t" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=512 \
        -timeout=10 -print_final_stats=1 "${args[@]}" > "$dir/$t.log" 2>&1; then
    echo "!! $t failed; see $dir/$t.log"; tail -40 "$dir/$t.log"; status=1
  else
    grep -E "stat::number_of_executed_units|Done" "$dir/$t.log" | tail -2
  fi
done
exit $status

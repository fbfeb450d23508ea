#!/usr/bin/env bash
# Every test: installs what is needed, builds with warnings as errors, runs the
# unit and process tests (CTest), a short smoke run of every fuzz target, and
# the page-script tests in headless Chromium.
# Usage: bash scripts/test.sh
#   MENDLY_SANITIZE=address,undefined bash scripts/test.sh   (sanitizer build in build-address-undefined/)
#   FUZZ_SECONDS=N     seconds per fuzz target (default 20; 0 skips fuzzing)
#   SKIP_PAGE_TESTS=1  leaves out the Chromium page tests
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
san="${MENDLY_SANITIZE:-}"
dir=build
[ -n "$san" ] && dir="build-$(echo "$san" | tr ',' '-')"
status=0
passed=0
failed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

echo "== build ($dir)"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMENDLY_WERROR=ON \
      -DMENDLY_SANITIZE="$san" >/dev/null
cmake --build "$dir" -j "$jobs"

echo "== unit and process tests"
ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600 2>&1 | tee "$log" || true
if line=$(grep -E "tests passed, [0-9]+ tests? failed out of [0-9]+" "$log" | tail -n1); then
  total=$(echo "$line" | sed -E 's/.*out of ([0-9]+).*/\1/')
  bad=$(echo "$line" | sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/')
  skipped=$(grep -cE "[*]{3}Skipped" "$log" || true)
  passed=$((passed + total - bad - skipped)); failed=$((failed + bad))
  [ "$bad" -eq 0 ] || status=1
else
  echo "ctest did not finish"; status=1; failed=$((failed + 1))
fi

fuzz_seconds="${FUZZ_SECONDS:-20}"
if [ "$fuzz_seconds" != "0" ] && [ -z "$san" ]; then
  echo "== fuzz smoke run, ${fuzz_seconds}s per target"
  for f in fuzz/*_fuzz.cpp; do
    t=$(basename "$f" .cpp)
    if bash scripts/fuzz.sh "$fuzz_seconds" "$t"; then passed=$((passed + 1)); else failed=$((failed + 1)); status=1; fi
  done
fi

if [ -z "${SKIP_PAGE_TESTS:-}" ] && [ -x tests/page/run.sh ]; then
  echo "== page tests"
  bash tests/page/run.sh 2>&1 | tee "$log" || true
  p=$(grep -E "^# pass [0-9]+" "$log" | tail -n1 | awk '{print $3}')
  f=$(grep -E "^# fail [0-9]+" "$log" | tail -n1 | awk '{print $3}')
  if [ -n "$p" ] && [ -n "$f" ]; then
    passed=$((passed + p)); failed=$((failed + f)); [ "$f" -eq 0 ] || status=1
  else
    echo "page tests did not finish"; status=1; failed=$((failed + 1))
  fi
fi

echo "tests: $passed passed, $failed failed"
exit $status

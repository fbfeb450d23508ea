#!/usr/bin/env bash
# Proves that the ThreadSanitizer stage still catches a data race in product
# code: builds the patch engine's tests with a deliberate race
# (-DMENDLY_INJECT_RACE=ON, in build-thread-race/) and runs them through CTest
# as scripts/test.sh does. Succeeds when the race is reported and the run fails.
set -euo pipefail
cd "$(dirname "$0")/.."
tree=build-thread-race
cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMENDLY_WERROR=ON -DMENDLY_SANITIZE=thread \
      -DMENDLY_INJECT_RACE=ON -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" >/dev/null
cmake --build "$tree" -j "$(nproc)" --target patch_tests
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if TSAN_OPTIONS="suppressions=$PWD/tests/tsan_suppressions.txt halt_on_error=0 exitcode=66" \
     ctest --test-dir "$tree" -j "$(nproc)" -L "^unit-patch$" -R "DownloadFilesTest" --output-on-failure >"$log" 2>&1; then
  echo "check-tsan: the injected race was NOT reported"; exit 1
fi
grep -q "WARNING: ThreadSanitizer: data race" "$log" || { echo "check-tsan: tests failed, but not with a race report"; exit 1; }
grep -m1 -A4 "WARNING: ThreadSanitizer: data race" "$log"
echo "check-tsan: the injected race was reported and the stage failed"

#!/usr/bin/env bash
# The Windows stage: cross-builds the programs and tests (build-windows.sh),
# runs the core's tests through Wine (CTest in build-windows/), then the Wine
# process tests: a native test program (build-wine-native/) that runs
# tidewright.exe and keelswap.exe under Wine against loopback hosts.
# Prints CTest's summaries and the stage's time; non-zero on any failure.
# Environment: JOBS (default 2); NATIVE_BUILD: the Linux build folder for the
# process tests (default build-wine-native; CI passes its already built
# build/, so only the test program itself is compiled).
set -uo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
jobs="${JOBS:-2}"
start=$(date +%s)

if ! bash scripts/build-windows.sh; then
  echo "windows: the cross build failed"
  echo "windows tests: 0 passed, 1 failed"
  exit 1
fi

export WINEPREFIX="$root/build-windows/wineprefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "windows: preparing the Wine prefix"
  wineboot -i >/dev/null 2>&1
fi
log="$(mktemp)"
trap 'rm -f "$log"; wineserver -k >/dev/null 2>&1 || true' EXIT
# One wine server for the whole stage, so that no test waits for its start.
wineserver -p
# Wine's own services start with the session's first program and stay; they
# are started here so that they hold no test's output pipe: the boot, then a
# listing run (its update check goes through WinHTTP) in a scratch folder.
wineboot </dev/null >/dev/null 2>&1
warm="$(mktemp -d)"
cp build-windows/tidewright.exe "$warm/" && (cd "$warm" && timeout 120 wine ./tidewright.exe </dev/null >/dev/null 2>&1)
rm -rf "$warm"

failed=0
total_passed=0
total_failed=0
# Runs ctest with these arguments and adds its counts to the totals.
run_ctest() {
  ctest "$@" --output-on-failure --timeout 600 -j "$jobs" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E "tests passed, [0-9]+ tests? failed out of [0-9]+" "$log" | tail -n1)
  if [ -n "$line" ]; then
    local bad all
    bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    all=$(sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    total_passed=$((total_passed + all - bad)); total_failed=$((total_failed + bad))
  else
    total_failed=$((total_failed + 1))
  fi
  [ "$rc" -eq 0 ] || failed=1
}

echo "windows: core and program unit tests under Wine"
run_ctest --test-dir build-windows

echo "windows: process tests (native loopback hosts, programs under Wine)"
native="${NATIVE_BUILD:-build-wine-native}"
if [ ! -f "$native/CMakeCache.txt" ]; then
  cmake -S . -B "$native" -G Ninja -DMENDLY_WERROR=ON -DMENDLY_BUILD_LAUNCHER=OFF \
        -DMENDLY_WINDOWS_PROGRAMS="$root/build-windows" >/dev/null || failed=1
else
  cmake "$native" -DMENDLY_WINDOWS_PROGRAMS="$root/build-windows" >/dev/null || failed=1
fi
if ninja -C "$native" -j "$jobs" wine_process_tests; then
  # One at a time: each test is a few Wine sessions of its own.
  jobs=1 run_ctest --test-dir "$native" -L windows
else
  echo "windows: the process tests did not build"
  failed=1; total_failed=$((total_failed + 1))
fi

# A shared Linux build goes back to running no Wine tests.
if [ -n "${NATIVE_BUILD:-}" ]; then cmake "$native" -DMENDLY_WINDOWS_PROGRAMS= >/dev/null || true; fi

echo "windows stage: $(( $(date +%s) - start )) s"
echo "windows tests: $total_passed passed, $total_failed failed"
exit $failed

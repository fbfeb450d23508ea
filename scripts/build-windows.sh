#!/usr/bin/env bash
# Cross-builds the Windows console programs and the core's tests with
# MinGW-w64: build-windows/tidewright.exe, build-windows/keelswap.exe (static,
# no DLLs beside them) and the test programs that scripts/test-windows.sh runs
# under Wine. Installs the Debian packages it needs first (idempotent).
#   bash scripts/build-windows.sh [ninja targets...]
# Environment: JOBS (default 2), BUILD_DIR (default build-windows).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="${JOBS:-2}"
build="${BUILD_DIR:-build-windows}"

packages=(cmake ninja-build ccache git nlohmann-json3-dev libgtest-dev libgmock-dev
          g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "build-windows: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
        -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DMENDLY_WERROR=ON
fi
ninja -C "$build" -j "$jobs" "$@"
ls -l "$build/tidewright.exe" "$build/keelswap.exe"

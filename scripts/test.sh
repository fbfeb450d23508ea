#!/usr/bin/env bash
# Installs what is needed, builds with warnings as errors and runs every test.
# Usage: scripts/test.sh            normal build in build/
#        MENDLY_SANITIZE=address,undefined scripts/test.sh   sanitizer build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
san="${MENDLY_SANITIZE:-}"
dir=build
[ -n "$san" ] && dir="build-$(echo "$san" | tr ',' '-')"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMENDLY_WERROR=ON \
      -DMENDLY_SANITIZE="$san" >/dev/null
cmake --build "$dir" -j "$jobs"
ctest --test-dir "$dir" --output-on-failure -j "$jobs"

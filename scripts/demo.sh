#!/usr/bin/env bash
# The main job, end to end on this machine: build the suite, publish a sample
# client on a local patch host (loopback only), install it with tidewright,
# change a few of its files, update again (only those are fetched) and list
# the installations.
# Usage: bash scripts/demo.sh [size of the sample client, default 64M]
set -euo pipefail
cd "$(dirname "$0")/.."
size="${1:-64M}"

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target tidewright keelswap patch_host publish_patch make_sample_client

demo="$PWD/out/demo"
rm -rf "$demo"
mkdir -p "$demo/program"
cp build/tidewright/tidewright build/keelswap/keelswap "$demo/program/"

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "Making a sample client of $size and publishing it as server 'demo'"
build/tools/make_sample_client/make_sample_client --out "$demo/client" --size "$size" --seed 7
build/tools/publish_patch/publish_patch --client "$demo/client" --server demo --root "$demo/host"

step "Starting the patch host on loopback"
build/tools/patch_host/patch_host --root "$demo/host" --port 0 --log > "$demo/host.url" 2> "$demo/host.log" &
host_pid=$!
trap 'kill $host_pid 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$demo/host.url" ] && break; sleep 0.1; done
base=$(head -n1 "$demo/host.url")
echo "patch host: $base (requests logged to out/demo/host.log)"

cat > "$demo/program/customlist.json" <<JSON
{
  "servers": [
    {
      "desc": "Demo server on loopback",
      "launchExecutable": "kaltrisclient.exe",
      "name": "demo",
      "patchBaseUrl": "$base",
      "server": "demo"
    }
  ]
}
JSON

tw() { (cd "$demo/program" && ./tidewright "$@" --skip-self-update); }

step "tidewright --update-single demo   (a fresh install)"
tw --update-single demo
requests_before=$(wc -l < "$demo/host.log")

step "Changing files of the installation by hand"
client="$demo/program/clients/demo"
printf 'edited by hand' > "$client/_version._"
first_loose=$(cd "$client" && find data -type f | sort | head -n1)
rm -f "$client/$first_loose"
echo "  rewrote _version._ and deleted $first_loose"
build/tools/make_sample_client/make_sample_client --mutate "$client" --members-percent 1 --seed 3

step "tidewright --update-single demo   (only the changed files are fetched)"
tw --update-single demo
requests_after=$(wc -l < "$demo/host.log")
echo "  requests for this update: $((requests_after - requests_before)) (the manifest and the changed files)"

step "tidewright   (the installation list)"
tw

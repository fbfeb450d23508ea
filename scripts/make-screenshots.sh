#!/usr/bin/env bash
# Writes the README's two pictures of the launcher from the real window:
#   docs/launcher.png             three servers (up to date, out of date, not
#                                 installed) with news from the patch host
#   docs/launcher_installing.png  an install under way
# The test build of the launcher (launcher_empty_catalog, which takes
# --test-script) runs on a private Xvfb display against patch_host on
# loopback, serving a sample client published by publish_patch; its steps
# wait for what the picture shows and then write the window's page as PNG.
# Nothing leaves the machine.
# Usage: bash scripts/make-screenshots.sh [BUILD_DIR]   (default: build; the
#        build needs MENDLY_BUILD_LAUNCHER=ON)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="$(cd "${1:-build}" && pwd)"

cmake --build "$build" --target launcher_empty_catalog patch_host publish_patch make_sample_client

work="$(mktemp -d)"
host_pid=""
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== a sample client, published as server 'aurum' on a slow loopback host"
"$build/tools/make_sample_client/make_sample_client" --out "$work/client" --size 12M --members 400 --seed 5 >/dev/null
printf 'KaltrisNexum-2.6.0' > "$work/client/_version._"
"$build/tools/publish_patch/publish_patch" --client "$work/client" --server aurum --root "$work/host" >/dev/null

# The two news feeds, as the game's web site would serve them.
mkdir -p "$work/host/rss"
feed() {
  printf '<rss><channel>'
  while [ $# -ge 4 ]; do
    printf '<item><title>%s</title><link>https://www.kaltris.invalid/news/%s</link><pubDate>%s</pubDate>' "$1" "$2" "$3"
    printf '<description>%s</description></item>' "$4"
    shift 4
  done
  printf '</channel></rss>'
}
feed "Frostfall Festival begins" frostfall "Tue, 08 Dec 2026 09:00:00 GMT" \
     "Lanterns are lit across the northern reaches. Complete festival quests for the Aurora mount." \
     "Scheduled maintenance" maintenance "Thu, 03 Dec 2026 06:00:00 GMT" \
     "All realms will be offline for two hours while the patch servers are upgraded." \
     > "$work/host/rss/launcher"
feed "Patch 2.6.0" 2-6-0 "Tue, 08 Dec 2026 08:00:00 GMT" \
     "New dungeon: The Drowned Nave. Faster loading on older machines." \
     "Patch 2.5.1" 2-5-1 "Tue, 24 Nov 2026 08:00:00 GMT" \
     "Fixes a crash when opening the map in the Ember Wastes." \
     > "$work/host/rss/patches"

# Each answer's body at 24 KB/s: the install below takes a while to watch.
"$build/tools/patch_host/patch_host" --root "$work/host" --port 0 --rate 24000 > "$work/host.url" 2> "$work/host.log" &
host_pid=$!
for _ in $(seq 100); do [ -s "$work/host.url" ] && break; sleep 0.1; done
base="$(head -n1 "$work/host.url")"
[ -n "$base" ] || { echo "make-screenshots.sh: patch_host did not start" >&2; exit 1; }

program="$work/program"
mkdir -p "$program/clients"
cp "$build/launcher/launcher_empty_catalog" "$program/launcher"
entry() {
  printf '{"name":"%s","desc":"%s","server":"aurum","patchBaseUrl":"%s","launchExecutable":"kaltrisclient.exe"}' \
    "$1" "$2" "$base"
}
printf '{"servers":[%s,%s,%s]}' "$(entry live 'Kaltris Nexum')" "$(entry older 'Old Copy')" \
  "$(entry fresh 'Fresh Install')" > "$program/customlist.json"
cp -r "$work/client" "$program/clients/live"
cp -r "$work/client" "$program/clients/older"
printf 'KaltrisNexum-2.5.1' > "$program/clients/older/_version._"

# Shot 1: the window at rest, the up-to-date client selected, news in.
# Shot 2: the client that is not installed, installing.
cat > "$work/steps.js" <<JS
const until = async (f) => { for (let i = 0; i < 600; i++) { if (f()) return true;
  await new Promise(r => setTimeout(r, 100)); } return false; };
const text = (s) => document.querySelector(s).textContent;
loadRssFeed('$base/rss/launcher', document.querySelector('#rss-announcements'), 6);
loadRssFeed('$base/rss/patches', document.querySelector('#rss-news'), 6);
return await until(() => text('#btn-play-caption') === 'Launch' && text('#server-version') === '2.6.0' &&
  document.querySelectorAll('.tile-status.current').length === 1 &&
  document.querySelectorAll('.tile-status.outdated').length === 1 &&
  document.querySelectorAll('#rss-news .rss-item').length === 2 &&
  document.querySelectorAll('#rss-announcements .rss-item').length === 2);
---
#snapshot $root/docs/launcher.png
---
const until = async (f) => { for (let i = 0; i < 600; i++) { if (f()) return true;
  await new Promise(r => setTimeout(r, 100)); } return false; };
const text = (s) => document.querySelector(s).textContent;
await selectServer(2);
await until(() => text('#btn-play-caption') === 'Install' && !document.querySelector('#btn-play').disabled);
document.querySelector('#btn-play').click();
return await until(() => text('#task-status-label').startsWith('Downloading files') &&
  parseInt(text('#task-status-count'), 10) >= 30 && text('#task-transfer').includes(' of '));
---
#snapshot $root/docs/launcher_installing.png
JS

echo "== the launcher on a private display"
(cd "$program" && xvfb-run -a -s "-screen 0 1280x800x24" env GDK_BACKEND=x11 DBUS_SESSION_BUS_ADDRESS= \
  ./launcher --skip-self-update --test-script "$work/steps.js") | tee "$work/launcher.out" | grep '^step '
expected="step 1: true
step 2: snapshot written
step 3: true
step 4: snapshot written"
if [ "$(grep '^step ' "$work/launcher.out")" != "$expected" ]; then
  echo "make-screenshots.sh: the window did not reach every picture (see the steps above)" >&2
  exit 1
fi
echo "wrote docs/launcher.png and docs/launcher_installing.png"

#!/usr/bin/env bash
# Runs the launcher page tests: headless Chromium (/usr/bin/chromium, from
# scripts/setup.sh) driven through playwright-core against launcher/page.
# Installs the pinned test dependency first when node_modules is missing.
set -euo pipefail
cd "$(dirname "$0")"
for tool in node npm; do
  command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing; run scripts/setup.sh" >&2; exit 2; }
done
[ -x /usr/bin/chromium ] || { echo "run.sh: /usr/bin/chromium is missing; run scripts/setup.sh" >&2; exit 2; }
if [ ! -d node_modules ]; then
  npm ci --no-audit --no-fund
fi
exec node --test page.test.mjs page_security.test.mjs page_player.test.mjs

#!/usr/bin/env bash
# Installs the Debian 12 packages that the build, the tests and the demo need.
# Idempotent: packages already present are left alone. Run as root (or via sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache git pkg-config xxd
  nlohmann-json3-dev zlib1g-dev libssl-dev libcurl4-openssl-dev
  libgtest-dev libgmock-dev libcpp-httplib-dev liblzf-dev libdeflate-dev libzstd-dev zstd
  curl openssl time nginx
  libwebkit2gtk-4.1-dev libgl1-mesa-dri xvfb webkit2gtk-driver imagemagick chromium nodejs dbus-daemon desktop-file-utils
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine
)
# npm for the page tests; a Node.js build that bundles its own npm conflicts with Debian's.
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs the built programs (launcher, tidewright, keelswap) for the current
# user and gives the launcher a place in the desktop's application menu.
#
#   scripts/install-desktop.sh [--prefix DIR] [--build DIR] [--uninstall]
#
# --prefix DIR  the program folder. Default:
#               ${XDG_DATA_HOME:-$HOME/.local/share}/kaltris-nexum. It must be
#               the user's own: the programs keep launcher.log,
#               customlist.json, the clients and their updates beside
#               themselves.
# --build DIR   the build folder holding launcher/launcher,
#               tidewright/tidewright and keelswap/keelswap (default: build/
#               of this checkout).
# --uninstall   removes the menu entry, the icons and the three programs; the
#               program folder keeps the player's files (clients, log, lists)
#               and is removed only when nothing else is left in it.
#
# What it writes (XDG base directory and freedesktop.org menu conventions):
#   DIR/launcher, DIR/tidewright, DIR/keelswap
#   $XDG_DATA_HOME/applications/<id>.desktop (Exec and TryExec: DIR/launcher)
#   $XDG_DATA_HOME/icons/hicolor/NxN/apps/<id>.png for N = 16 ... 256
# where <id> is the StartupWMClass of launcher/desktop/launcher.desktop.in,
# the name the launcher's windows carry. Then it refreshes the desktop
# database and the icon cache when their tools are installed.
set -euo pipefail

top="$(cd "$(dirname "$0")/.." && pwd)"
template="$top/launcher/desktop/launcher.desktop.in"
icons="$top/launcher/icons"
sizes=(16 24 32 48 64 128 256)
programs=(launcher/launcher tidewright/tidewright keelswap/keelswap)

fail() { echo "install-desktop: $*" >&2; exit 1; }

# XDG_DATA_HOME counts only when it is an absolute path.
data_home="${XDG_DATA_HOME:-}"
[[ "$data_home" == /* ]] || data_home="${HOME:?HOME is not set}/.local/share"

prefix="$data_home/kaltris-nexum"
build="$top/build"
uninstall=0
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) [ $# -ge 2 ] || fail "--prefix needs a folder"; prefix="$2"; shift 2 ;;
    --build) [ $# -ge 2 ] || fail "--build needs a folder"; build="$2"; shift 2 ;;
    --uninstall) uninstall=1; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//'; exit 0 ;;
    *) fail "unknown option: $1 (see --help)" ;;
  esac
done

prefix="$(realpath -m -- "$prefix")"
# Exec= in a desktop entry is quoted and escaped in two layers; a folder name
# with these characters is refused rather than escaped.
case "$prefix" in
  *[\"\`\$\\%]* | *$'\n'* | *$'\t'*) fail "the program folder must not contain \" \` \$ \\ % or control characters: $prefix" ;;
esac

id="$(sed -n 's/^StartupWMClass=//p' "$template")"
[ -n "$id" ] || fail "no StartupWMClass in $template"
entry="$data_home/applications/$id.desktop"

refresh_desktop() {
  if command -v update-desktop-database >/dev/null; then
    update-desktop-database -q "$data_home/applications" 2>/dev/null || true
  fi
  if command -v gtk-update-icon-cache >/dev/null && [ -d "$data_home/icons/hicolor" ]; then
    gtk-update-icon-cache -q -f -t "$data_home/icons/hicolor" 2>/dev/null || true
  fi
}

# Copies $1 to $2 through a temporary file and a rename, so that a copy that
# is running (the launcher itself) is replaced, not written over.
put_file() {
  local tmp
  tmp="$(mktemp "$(dirname "$2")/.install.XXXXXX")"
  cp -- "$1" "$tmp"
  chmod "$3" "$tmp"
  mv -f -- "$tmp" "$2"
}

if [ "$uninstall" -eq 1 ]; then
  rm -f -- "$entry"
  for n in "${sizes[@]}"; do rm -f -- "$data_home/icons/hicolor/${n}x${n}/apps/$id.png"; done
  for p in "${programs[@]}"; do rm -f -- "$prefix/$(basename "$p")"; done
  rm -f -- "$prefix/keelswap.new"  # a helper update that is still pending
  rmdir -- "$prefix" 2>/dev/null || true
  refresh_desktop
  echo "install-desktop: removed the menu entry $entry and the programs in $prefix"
  exit 0
fi

for p in "${programs[@]}"; do
  [ -x "$build/$p" ] || fail "$build/$p is missing: build it first (cmake --build $build --target launcher tidewright keelswap)"
done
for n in "${sizes[@]}"; do
  [ -f "$icons/launcher-$n.png" ] || fail "$icons/launcher-$n.png is missing"
done

mkdir -p -- "$prefix"
[ -O "$prefix" ] && [ -w "$prefix" ] ||
  fail "the program folder must be your own (the programs write beside themselves): $prefix"
for p in "${programs[@]}"; do put_file "$build/$p" "$prefix/$(basename "$p")" 755; done

for n in "${sizes[@]}"; do
  mkdir -p -- "$data_home/icons/hicolor/${n}x${n}/apps"
  put_file "$icons/launcher-$n.png" "$data_home/icons/hicolor/${n}x${n}/apps/$id.png" 644
done

mkdir -p -- "$data_home/applications"
launcher="$prefix/launcher"
exec_line="$launcher"
# Exec= quotes a path with a character that it would otherwise split or
# interpret at; TryExec= takes the path as it is.
case "$launcher" in
  *[[:space:]\'\>\<\~\|\&\;\*\?\#\(\)]*) exec_line="\"$launcher\"" ;;
esac
written="$(mktemp "$data_home/applications/.install.XXXXXX")"
# Escaped for sed's replacement text: & and the | delimiter.
sed_safe() { printf '%s' "$1" | sed -e 's/[&|]/\\&/g'; }
sed -e "s|@EXEC@|$(sed_safe "$exec_line")|" -e "s|@TRY_EXEC@|$(sed_safe "$launcher")|" "$template" >"$written"
chmod 644 "$written"
mv -f -- "$written" "$entry"

refresh_desktop
echo "install-desktop: installed the programs in $prefix"
echo "install-desktop: menu entry $entry"

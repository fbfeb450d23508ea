#!/usr/bin/env bash
# Installs the suite for a player in a temporary home, with
# scripts/install-desktop.sh and with `cmake --install`, and checks what the
# desktop will find: the programs, the menu entry (desktop-file-validate),
# its Exec, the icons, and what --uninstall leaves behind.
#
#   install_desktop_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source_dir="$1"
build_dir="$2"
script="$source_dir/scripts/install-desktop.sh"
id="$(sed -n 's/^StartupWMClass=//p' "$source_dir/launcher/desktop/launcher.desktop.in")"
sizes=(16 24 32 48 64 128 256)

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # description, command...
  local what="$1"
  shift
  if ! "$@"; then
    echo "FAILED: $what" >&2
    failures=$((failures + 1))
  fi
}

mode_is() { [ "$(stat -c %a "$2")" = "$1" ]; }
owned_and_writable() { [ -O "$1" ] && [ -w "$1" ]; }
no_output_from() { local out; out="$("$@" 2>&1)" && [ -z "$out" ] || { echo "$out" >&2; return 1; }; }
entry_value() { sed -n "s/^$2=//p" "$1"; }
not() { ! "$@" 2>/dev/null; }

# Everything one installation must have: programs folder $1, data folder $2,
# the entry's Exec line $3.
check_installed() {
  local programs="$1" data="$2" exec_line="$3" entry="$2/applications/$id.desktop"
  check "program folder $programs is the user's" owned_and_writable "$programs"
  for p in launcher/launcher tidewright/tidewright keelswap/keelswap; do
    local installed="$programs/$(basename "$p")"
    check "$installed is the built program" cmp -s "$build_dir/$p" "$installed"
    check "$installed is executable (755)" mode_is 755 "$installed"
  done
  check "$entry exists (644)" mode_is 644 "$entry"
  check "desktop-file-validate accepts $entry" no_output_from desktop-file-validate "$entry"
  # Exec is the absolute path of the installed launcher, quoted when needed.
  local exec
  exec="$(entry_value "$entry" Exec)"
  check "Exec=$exec is $exec_line" test "$exec" = "$exec_line"
  check "TryExec is the launcher" test "$(entry_value "$entry" TryExec)" = "$programs/launcher"
  exec="${exec#\"}"
  check "Exec names an executable launcher" test -x "${exec%\"}"
  check "Icon is the desktop id" test "$(entry_value "$entry" Icon)" = "$id"
  for n in "${sizes[@]}"; do
    local icon="$data/icons/hicolor/${n}x${n}/apps/$id.png"
    check "$icon is the ${n} px icon (644)" cmp -s "$source_dir/launcher/icons/launcher-$n.png" "$icon"
    check "$icon is readable (644)" mode_is 644 "$icon"
  done
}

# 1. Defaults: XDG_DATA_HOME unset, the program folder under ~/.local/share.
home="$work/home"
mkdir -p "$home"
check "install with the defaults" env -u XDG_DATA_HOME HOME="$home" bash "$script" --build "$build_dir"
check_installed "$home/.local/share/kaltris-nexum" "$home/.local/share" "$home/.local/share/kaltris-nexum/launcher"

# Installing again replaces the programs and leaves the player's files.
echo '[]' >"$home/.local/share/kaltris-nexum/customlist.json"
check "install again" env -u XDG_DATA_HOME HOME="$home" bash "$script" --build "$build_dir"
check "installing again kept customlist.json" test -f "$home/.local/share/kaltris-nexum/customlist.json"
check_installed "$home/.local/share/kaltris-nexum" "$home/.local/share" "$home/.local/share/kaltris-nexum/launcher"

# --uninstall removes what it installed and keeps the player's files.
check "uninstall" env -u XDG_DATA_HOME HOME="$home" bash "$script" --uninstall
check "uninstall removed the entry" test ! -e "$home/.local/share/applications/$id.desktop"
check "uninstall removed the icons" test -z "$(find "$home/.local/share/icons" -name "$id.png")"
check "uninstall removed the programs" test ! -e "$home/.local/share/kaltris-nexum/launcher"
check "uninstall kept customlist.json" test -f "$home/.local/share/kaltris-nexum/customlist.json"

# 2. An absolute XDG_DATA_HOME and a program folder whose name has spaces and
# other characters that Exec= must quote.
data="$work/xdg data"
programs="$work/Kaltris Nexum (R&D|mine)"
check "install into XDG_DATA_HOME with --prefix" env HOME="$home" XDG_DATA_HOME="$data" \
  bash "$script" --build "$build_dir" --prefix "$programs"
check_installed "$programs" "$data" "\"$programs/launcher\""

# A relative XDG_DATA_HOME is not a data folder: the home's default is used.
home2="$work/home2"
mkdir -p "$home2"
check "install with a relative XDG_DATA_HOME" env -C "$work" HOME="$home2" XDG_DATA_HOME=relative \
  bash "$script" --build "$build_dir"
check "a relative XDG_DATA_HOME is ignored" test ! -e "$work/relative"
check "the entry went to the home's data folder" test -f "$home2/.local/share/applications/$id.desktop"

# 3. Refused: a folder that the entry could not name safely, missing programs.
check "a program folder with \$ is refused" \
  not env HOME="$work/refused" bash "$script" --build "$build_dir" --prefix "$work/a\$b"
check "missing programs are refused" not env HOME="$work/refused" bash "$script" --build "$work/empty-build"
check "nothing was written when refused" test ! -e "$work/refused" -a ! -e "$work/a\$b"

# 4. cmake --install: the same layout.
home3="$work/home3"
mkdir -p "$home3"
check "cmake --install --prefix" env -u XDG_DATA_HOME HOME="$home3" \
  cmake --install "$build_dir" --prefix "$work/cmake programs"
check_installed "$work/cmake programs" "$home3/.local/share" "\"$work/cmake programs/launcher\""

[ "$failures" -eq 0 ] && echo "desktop install: all checks passed"
exit $((failures > 0))

#!/usr/bin/env bash
# Tests of scripts/check-structure.sh: small source trees, each with the
# breaches it must name (file:line) and the look-alikes it must let pass.
# Prints the cases that fail and a summary line; exits non-zero when any fails.
set -uo pipefail
check="$(cd "$(dirname "$0")" && pwd)/check-structure.sh"
failed=0
cases=0
tree=""
trap '[ -n "${KEEP_TREE:-}" ] || rm -rf "$tree"' EXIT

new_tree() { rm -rf "$tree"; tree=$(mktemp -d); }
# put FILE TEXT: writes TEXT (printf %b: \n are newlines) at FILE in the tree.
put() { mkdir -p "$tree/$(dirname "$1")"; printf '%b' "$2" > "$tree/$1"; }
# body N: a function body of N lines in all, signature and closing brace included.
body() {
  local name="$1" lines="$2" i
  printf 'int %s(int a) {\n' "$name"
  for ((i = 2; i < lines; i++)); do printf '    a += %d;\n' "$i"; done
  printf '}\n'
}
# expect NAME STATUS EXPECTED: runs the check on the tree and compares its
# exit status and output.
expect() {
  local name="$1" want_status="$2" want="$3" got status
  got=$(STRUCTURE_ROOT="$tree" bash "$check" 2>&1); status=$?
  cases=$((cases + 1))
  if [ "$status" != "$want_status" ] || [ "$got" != "$want" ]; then
    echo "FAILED: $name (status $status, wanted $want_status)"
    diff <(echo "$want") <(echo "$got") | sed 's/^/    /'
    failed=$((failed + 1))
  fi
}

new_tree
put core/catalog/reader.cpp '#include <filesystem>\n#include <unistd.h>\n#include <csignal>\n#include <curl/curl.h>\n'
put core/catalog/reader_test.cpp '#include <sys/wait.h>\n'
put core/platform/disk_posix.cpp '#include <sys/statvfs.h>\n'
put core/net/http_client_win.cpp '#include <windows.h>\n#include <winhttp.h>\n'
put keelswap/os_posix.cpp '#include <fcntl.h>\n'
put keelswap/main.cpp '#include <Windows.h>\n'
put launcher/engine/window.cpp '#include <gtk/gtk.h>\n#include <webkit2/webkit2.h>\n'
put launcher/tasks/opener.cpp '  #  include <gio/gio.h>\n#include <glib.h>\n'
put tests/support/runner.cpp '#include <spawn.h>\n'
put tidewright/console.cpp '/* #include <unistd.h> in a comment is text, but */\n#include <dbus/dbus.h>\n'
expect "OS headers only in the platform layers" 1 "core/catalog/reader.cpp:2: includes <unistd.h>, an OS header, outside the platform layers
keelswap/main.cpp:1: includes <Windows.h>, an OS header, outside the platform layers
launcher/tasks/opener.cpp:1: includes <gio/gio.h>, an OS header, outside the platform layers
launcher/tasks/opener.cpp:2: includes <glib.h>, an OS header, outside the platform layers
tidewright/console.cpp:2: includes <dbus/dbus.h>, an OS header, outside the platform layers
check-structure: 5 problem(s)"

new_tree
put launcher/launcher_app_messages.h '#pragma once\n'
put launcher/helper.h '#pragma once\n'
put launcher/tasks/helper.h '#pragma once\n'
put launcher/tasks/patch_tasks.cpp '#include "launcher_app_messages.h"\n#include "bridge/page_host.h"\n#include "helper.h"\n#include "log/text.h"\n'
put launcher/tasks/patch_tasks_test.cpp '#include "launcher_app_messages.h"\n'
put launcher/bridge/page_host.h '#pragma once\n#include "tasks/helper.h"\n#include "engine_window.h"\n#include "model/state.h"\n'
put launcher/bridge/script_bridge.cpp '#include "tasks/helper.h"\n'
put launcher/engine/engine_window.h '#pragma once\n#include "post_channel.h"\n'
put launcher/engine/post_channel.h '#pragma once\n'
put launcher/model/state.h '#pragma once\n#include "bridge/page_host.h"\n'
put launcher/launcher_app.cpp '#include "engine_window.h"\n#include "bridge/script_bridge.h"\n#include "tasks/helper.h"\n'
put launcher/widgets/button.cpp '#include "engine_window.h"\n'
expect "no include runs back up the launcher's layers" 1 "launcher/bridge/page_host.h:2: includes tasks/helper.h (tasks/checks layer) from the bridge layer below it
launcher/model/state.h:2: includes bridge/page_host.h (bridge layer) from the engine/model layer below it
launcher/tasks/patch_tasks.cpp:1: includes launcher_app_messages.h (app layer) from the tasks/checks layer below it
launcher/widgets/button.cpp:1: the folder launcher/widgets has no layer in scripts/check-structure.sh
check-structure: 4 problem(s)"

new_tree
{
  body fits 80
  echo
  body tooLong 81
} > "$tree/long.cpp"
mkdir -p "$tree/core/patch" "$tree/tests" "$tree/fuzz"
{
  echo '#define ICON(n) extern const unsigned char kIcon##n[];'
  echo 'ICON(16)'
  echo 'ICON(32)'
  echo 'namespace mendly {'
  echo 'const char* const kText = "}}}";  // a { in a comment'
  echo "const char kBrace = '{';"
  echo 'const long kBig = 10'"'"'000'"'"'000;'
  echo 'const char* const kScript = R"js(function f() {'
  echo '})js";'
  echo 'struct Table { int a; int b; };'
  echo 'const Table kTable[] = {'
  for ((i = 0; i < 90; i++)); do echo '    {1, 2},'; done
  echo '};'
  echo 'class Holder {'
  echo 'public:'
  echo '    Holder(int a) : a_(a), b_{a} {'
  for ((i = 0; i < 85; i++)); do echo '        a_ += b_;'; done
  echo '    }'
  for ((i = 0; i < 85; i++)); do echo "    int get$i() const { return a_; }"; done
  echo 'private:'
  echo '    int a_; int b_;'
  echo '};'
  echo 'int withLiterals(int a) {'
  echo '    const char* js = R"js(var s = "}";)js";'
  echo "    const char brace = '}', quote = '\\'', slash = '\\\\';"
  echo '    const char* text = "\"}";  // }'
  echo '    /* } */ const long big = 0x1'"'"'ff; if (a > big) {'
  echo '    }'
  for ((i = 0; i < 74; i++)); do echo '    a += 1;'; done
  echo '}'
  echo 'extern "C" {'
  body inC 81
  echo '}'
  echo '}  // namespace mendly'
} > "$tree/core/patch/tricky.cpp"
body longTest 120 > "$tree/core/patch/tricky_test.cpp"
body longSupport 120 > "$tree/tests/support.cpp"
body longFuzz 120 > "$tree/fuzz/target_fuzz.cpp"
mv "$tree/long.cpp" "$tree/core/patch/long.cpp"
expect "functions over 80 lines outside tests" 1 "core/patch/long.cpp:82: tooLong is 81 lines long (at most 80)
core/patch/tricky.cpp:105: Holder is 87 lines long (at most 80)
core/patch/tricky.cpp:280: withLiterals is 81 lines long (at most 80)
core/patch/tricky.cpp:362: inC is 81 lines long (at most 80)
check-structure: 4 problem(s)"

new_tree
put core/catalog/fine.cpp '#include "catalog/fine.h"\n#include <string>\n'
expect "a clean tree passes" 0 "check-structure: clean"

echo "check-structure-test: $cases cases, $failed failed"
[ "$failed" -eq 0 ]

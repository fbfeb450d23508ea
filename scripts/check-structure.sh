#!/usr/bin/env bash
# The house rules that a compiler does not check, checked in one pass over the
# C++ sources (core, the three programs, tools, tests, fuzz targets, bench).
# Prints "file:line: what" for each breach and exits 1 when there is any;
# exits 0 and prints nothing else than the summary line when the tree is clean.
# Usage: bash scripts/check-structure.sh [file...]   (default: every source)
#   STRUCTURE_ROOT=DIR  checks the tree at DIR instead of this one (its tests:
#                       scripts/check-structure-test.sh)
#
# 1. OS headers only in the platform layers. The operating system's and the
#    desktop's headers (Windows, POSIX, GTK/GDK, GIO/GLib, WebKit, D-Bus, X11)
#    may be included only in
#      core/platform/          one neutral header per OS concept, one source per OS
#      core/**/*_posix.*, core/**/*_win.*   the per-OS twins that CMake picks
#                              (the HTTP client, digests, signatures)
#      keelswap/os_*           keelswap's own platform file
#      launcher/engine/        the window, main loop and desktop services
#    Test code is exempt: *_test.cpp, *_testing.{h,cpp}, *_test_fixture.h,
#    tests/, fuzz/ and bench/ start, signal and watch processes, mount file
#    systems and set resource limits by design. So is tools/: operators' and
#    tests' programs for Linux only (a patch host that serves until a signal,
#    a key writer that makes owner-only files), never shipped to players.
#    Libraries that stand in for an OS service (libcurl, OpenSSL, zlib) and the
#    standard C++ headers (<csignal>, <cstdio>) are not OS headers here.
# 2. No include runs back up the launcher's layers. From the bottom:
#      0  launcher/engine/, launcher/model/   the window and desktop; the state
#      1  launcher/bridge/                     the page host through which tasks and
#                                              checks reach the page, and its refresh
#      2  launcher/tasks/, launcher/checks/    work started from the page
#      3  launcher/ itself                     the app: start-up, messages, main
#         bridge/script_bridge.*, bridge/task_actions.*   the page-call dispatch,
#                                              which calls into tasks and checks
#    A file may include its own layer and those below it, never one above.
#    Test code (*_test.cpp, *_testing.{h,cpp}) may include any layer: it drives a
#    unit as its callers do.
#    A quoted include is resolved as the compiler does: the including file's
#    folder first, then launcher/engine/ and launcher/; "bridge/x.h" names its
#    folder. A new folder under launcher/ must be given a layer here.
# 3. No function longer than 80 lines (from the first line of its signature
#    to its closing brace) outside tests (*_test.cpp, *_testing.*, tests/,
#    fuzz/). A lambda inside a function counts as part of it; a lambda in a
#    table at namespace scope counts on its own.
set -euo pipefail
cd "${STRUCTURE_ROOT:-$(dirname "$0")/..}"

if [ $# -gt 0 ]; then
  files=("$@")
else
  roots=()
  for d in core keelswap launcher tidewright tools tests fuzz bench; do [ -d "$d" ] && roots+=("$d"); done
  mapfile -t files < <(find "${roots[@]}" \
      \( -name node_modules -o -name testdata \) -prune -o \
      -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.cpp.in' -o -name '*.h.in' \) -print | LC_ALL=C sort)
fi
if [ ${#files[@]} -eq 0 ]; then echo "check-structure: clean"; exit 0; fi

awk -v limit=80 '
function layerOfFolder(folder) {
    if (folder == "launcher/engine" || folder == "launcher/model") return 0
    if (folder == "launcher/bridge") return 1
    if (folder == "launcher/tasks" || folder == "launcher/checks") return 2
    if (folder == "launcher") return 3
    return -1
}
# The page-call dispatch (ScriptBridge and its task table) calls into the tasks
# and checks, so it sits above them with the app, although it lives in bridge/.
function layerOfFile(path) {
    if (path ~ /^launcher\/bridge\/(script_bridge|task_actions)\.(h|cpp)$/) return 3
    return layerOfFolder(folderOf(path))
}
function layerName(rank) {
    if (rank == 0) return "engine/model"
    if (rank == 1) return "bridge"
    if (rank == 2) return "tasks/checks"
    return "app"
}
function folderOf(path,    i) {
    i = length(path)
    while (i > 0 && substr(path, i, 1) != "/") i--
    return i > 0 ? substr(path, 1, i - 1) : "."
}
function report(line, text) {
    print FILENAME ":" line ": " text
    problems++
}
function isOsHeader(name) {
    if (name ~ /^(sys|netinet|arpa|linux|asm|net|bits)\//) return 1
    if (name ~ /^(unistd|fcntl|dirent|pthread|dlfcn|poll|spawn|termios|pwd|grp|sched|semaphore|signal|syslog|netdb|libgen|glob|fnmatch|ftw|utime|wordexp|mqueue|aio|ifaddrs)\.h$/) return 1
    if (tolower(name) ~ /^(windows|winhttp|bcrypt|winsock2?|ws2tcpip|winternl|ntstatus|shellapi|shlobj|shlwapi|shobjidl|objbase|combaseapi|wincrypt|tlhelp32|psapi|dbghelp|versionhelpers|winioctl|winbase|winuser|wincon|fileapi|handleapi|synchapi|processthreadsapi|io|direct|conio|process)\.h$/) return 1
    if (name ~ /^(gtk|gdk|gio|glib|gobject|webkit[0-9]*|jsc|dbus|libsoup|X11|wayland)[-\/.0-9]/) return 1
    return 0
}
# The source text of `s` with comments, strings and character literals blanked
# (a string becomes ""), keeping the state of a comment or raw string that
# runs on to the next line.
function strip(s,    out, i, n, c, d, j, word) {
    out = ""; i = 1; n = length(s)
    while (i <= n) {
        if (inComment) {
            j = index(substr(s, i), "*/")
            if (j == 0) return out
            i += j + 1; inComment = 0; continue
        }
        if (rawEnd != "") {
            j = index(substr(s, i), rawEnd)
            if (j == 0) return out
            i += j + length(rawEnd) - 1; rawEnd = ""; out = out "\"\""; continue
        }
        c = substr(s, i, 1)
        if (c == "/" && substr(s, i + 1, 1) == "/") return out
        if (c == "/" && substr(s, i + 1, 1) == "*") { inComment = 1; i += 2; continue }
        if (c ~ /[A-Za-z_]/) {
            j = i
            while (j <= n && substr(s, j, 1) ~ /[A-Za-z0-9_]/) j++
            word = substr(s, i, j - i)
            if (substr(s, j, 1) == "\"" && word ~ /R$/) {
                d = index(substr(s, j + 1), "(")
                rawEnd = ")" substr(s, j + 1, d - 1) "\""
                i = j + d + 1; continue
            }
            out = out word; i = j; continue
        }
        if (c ~ /[0-9]/) {  # a number, with its digit separators (10'\''000)
            j = i
            while (j <= n && substr(s, j, 1) ~ /[A-Za-z0-9_.'\'']/) j++
            out = out "0"; i = j; continue
        }
        if (c == "\"" || c == "'\''") {
            j = i + 1
            while (j <= n && substr(s, j, 1) != c) j += (substr(s, j, 1) == "\\") ? 2 : 1
            out = out "\"\""; i = j + 1; continue
        }
        out = out c; i++
    }
    return out
}
# True when the last namespace/class/struct/union/enum keyword in `header`
# has no "(" after it: the brace opens that scope (macro calls before a
# namespace, without a semicolon, do not make it a function).
function opensScope(header,    rest, at, last) {
    rest = header; last = ""
    while (match(rest, /(^|[^A-Za-z0-9_])(namespace|class|struct|union|enum)([^A-Za-z0-9_]|$)/)) {
        last = substr(rest, RSTART + RLENGTH - 1)
        rest = substr(rest, RSTART + RLENGTH)
        at = 1
    }
    return at && last !~ /\(/
}
function lastChar(s) { sub(/[ \t]+$/, "", s); return substr(s, length(s), 1) }
# What a "{" that follows `header` outside any function opens.
function kindOf(header) {
    if (parens > 0) return "data"   # f({...}) : an argument
    if (opensScope(header)) return "scope"
    if (header ~ /(^|[^A-Za-z0-9_])extern[ \t]*""/) return "scope"
    if (header ~ /\)[^{};]*[^:]:[^:]/ && lastChar(header) ~ /[A-Za-z0-9_>]/) return "init"  # a member initialiser a_{..}
    if (header ~ /\(/ && lastChar(header) !~ /[=,(]/) return "function"
    return "data"
}
function nameOf(header,    i, name) {
    i = index(header, "(")
    name = substr(header, 1, i - 1)
    if (name ~ /\]$/ || name ~ /\][ \t]*$/) return "a lambda"
    sub(/[ \t]+$/, "", name)
    sub(/.*[^A-Za-z0-9_:~]/, "", name)
    return name == "" ? "a function" : name
}
function scanBraces(s,    i, n, c, k) {
    n = length(s)
    for (i = 1; i <= n; i++) {
        c = substr(s, i, 1)
        if (functionDepth > 0) {
            if (c == "{") depth++
            else if (c == "}") {
                depth--
                if (depth < functionDepth) {
                    if (checkLength && FNR - functionLine + 1 > limit)
                        report(functionLine, functionName " is " (FNR - functionLine + 1) " lines long (at most " limit ")")
                    functionDepth = 0; header = ""; headerLine = 0; parens = 0
                }
            }
            continue
        }
        if (c == "{") {
            k = kindOf(header)
            depth++
            kind[depth] = k
            if (k == "function") {
                functionDepth = depth; functionLine = headerLine ? headerLine : FNR; functionName = nameOf(header)
            }
            if (k == "init") header = header "{"
            else if (k != "function") { header = ""; headerLine = 0; parens = 0 }
            continue
        }
        if (c == "}") {
            if (depth > 0) depth--
            if (kind[depth + 1] == "init") header = header "}"
            else { header = ""; headerLine = 0; parens = 0 }
            continue
        }
        if (c == ";") { header = ""; headerLine = 0; parens = 0; continue }
        if (c == ":" && header ~ /^[ \t]*(public|protected|private)[ \t]*$/ && substr(s, i + 1, 1) != ":") {
            header = ""; headerLine = 0; continue
        }
        if (c == "(") parens++
        else if (c == ")" && parens > 0) parens--
        if (headerLine == 0 && c !~ /[ \t]/) headerLine = FNR
        header = header c
    }
}
BEGIN {
    for (i = 1; i < ARGC; i++) exists[ARGV[i]] = 1
}
FNR == 1 {
    folder = folderOf(FILENAME)
    testCode = FILENAME ~ /(_test\.cpp(\.in)?|_testing\.(h|cpp)|_test_fixture\.h)$/ || FILENAME ~ /^(tests|fuzz)\//
    osAllowed = testCode || FILENAME ~ /^(core\/platform|launcher\/engine|tools|bench)\// ||
                FILENAME ~ /^keelswap\/os_/ || FILENAME ~ /^core\/.*_(posix|win)(_test)?\.(h|cpp)$/
    checkLength = !testCode
    inLauncher = FILENAME ~ /^launcher\//
    ownLayer = inLauncher ? layerOfFile(FILENAME) : -1
    if (inLauncher && ownLayer < 0) report(1, "the folder " folder " has no layer in scripts/check-structure.sh")
    inComment = 0; rawEnd = ""; continued = 0
    depth = 0; functionDepth = 0; header = ""; headerLine = 0; parens = 0
    split("", kind)
}
{
    line = $0
    if (!inComment && rawEnd == "" && (continued || line ~ /^[ \t]*#/)) {
        continued = line ~ /\\$/
        if (line ~ /^[ \t]*#[ \t]*include[ \t]*</) {
            name = line; sub(/^[ \t]*#[ \t]*include[ \t]*</, "", name); sub(/>.*/, "", name)
            if (!osAllowed && isOsHeader(name)) report(FNR, "includes <" name ">, an OS header, outside the platform layers")
        } else if (ownLayer >= 0 && !testCode && line ~ /^[ \t]*#[ \t]*include[ \t]*"/) {
            name = line; sub(/^[ \t]*#[ \t]*include[ \t]*"/, "", name); sub(/".*/, "", name)
            target = ""
            if ((folder "/" name) in exists) target = folder "/" name
            else if (("launcher/engine/" name) in exists) target = "launcher/engine/" name
            else if (("launcher/" name) in exists) target = "launcher/" name
            if (target != "") {
                rank = layerOfFile(target)
                if (rank > ownLayer)
                    report(FNR, "includes " name " (" layerName(rank) " layer) from the " layerName(ownLayer) " layer below it")
            }
        }
        next
    }
    scanBraces(strip(line))
}
END {
    if (problems) { print "check-structure: " problems " problem(s)"; exit 1 }
    print "check-structure: clean"
}
' "${files[@]}"

#include "usage.h"

namespace mendly::keelswap {

std::string_view usageText() {
    return "keelswap - replace locked files after a process exits.\n"
           "\n"
           "Usage (Windows):\n"
           "  keelswap --wait-pid <pid>\n"
           "    (--replace <target> --with <source>)+\n"
           "    [--cleanup-dir <path>]\n"
           "    [--exec <commandLine>]\n"
           "\n"
           "Waits until the given PID is no longer running, then copies each --with file over its\n"
           "--replace target. If --cleanup-dir is set, removes that directory after copies succeed.\n"
           "If --exec is set, runs CreateProcess on that line.\n";
}

}  // namespace mendly::keelswap

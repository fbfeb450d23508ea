#include "platform/console.h"

#include <unistd.h>

#include <cerrno>

namespace mendly::platform {

bool standardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

void writeStandardOutput(std::string_view utf8) {
    while (!utf8.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, utf8.data(), utf8.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        utf8.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace mendly::platform

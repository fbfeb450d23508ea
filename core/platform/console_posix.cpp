#include "platform/console.h"
#include "platform/descriptor_posix.h"

#include <unistd.h>

#include <cerrno>

namespace mendly::platform {

bool standardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

void writeStandardOutput(std::string_view utf8) { (void)writeToDescriptor(STDOUT_FILENO, utf8); }

}  // namespace mendly::platform

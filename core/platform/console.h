#pragma once
// The console a program writes to. POSIX: console_posix.cpp (write(2) on
// descriptor 1, isatty). Windows: console_win.cpp (WriteConsoleW in UTF-16 on
// a console, bytes otherwise).
// Threads: the caller serialises writes (ConsoleOutput is used by one thread).
#include <string_view>

namespace mendly::platform {

// True when standard output is a terminal (colours and a redrawn progress line
// make sense), false for a pipe or a file.
bool standardOutputIsTerminal();

// Writes all of `utf8` to standard output; a failed write (a reader that went
// away) is ignored.
void writeStandardOutput(std::string_view utf8);

}  // namespace mendly::platform

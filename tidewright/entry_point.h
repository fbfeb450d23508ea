#pragma once
// tidewright's start-up and dispatch: log, banner, command line, self-update
// step, catalog, command. Main thread only.
#include <string>
#include <vector>

namespace mendly {

// `argv` is the whole argument list, program name first, already converted
// to UTF-16. Returns the process exit code: 0 success, 1 failure, 2 cancelled.
int runTidewright(const std::vector<std::u16string>& argv);

}  // namespace mendly

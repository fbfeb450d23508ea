#pragma once
// Running the cross-built Windows programs under Wine from a Linux test: a
// copy of the program in a temporary program folder, started through `wine`
// in the tests' own prefix, with the same process helpers as the Linux tests.
//
// Threads: the test's thread.
#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/child_process.h"
#include "support/process_runner.h"

namespace mendly::test {

// Points this process's environment at the tests' Wine prefix (quiet, no
// desktop), so that every wine started from here, directly or by a helper,
// shares it, and makes sure Wine's services run. Call first in each test.
void useWinePrefix();

// The path of a cross-built program (tidewright.exe, keelswap.exe, ...).
std::filesystem::path windowsProgram(const std::string& name);

// The name Wine gives a Linux path: its Z: drive with backslashes.
std::string windowsPathOf(const std::filesystem::path& path);

// Runs `exe` under Wine with `args` in `folder` to completion.
ProcessResult runUnderWine(const std::filesystem::path& exe, std::vector<std::string> args,
                           const std::filesystem::path& folder,
                           std::vector<std::pair<std::string, std::string>> env = {},
                           std::chrono::milliseconds limit = std::chrono::seconds(120));

// Starts `exe` under Wine without waiting; output goes to `outputFile`.
[[nodiscard]] bool startUnderWine(ChildProcess& child, const std::filesystem::path& exe,
                                  std::vector<std::string> args, const std::filesystem::path& folder,
                                  const std::filesystem::path& outputFile);

}  // namespace mendly::test

#pragma once
// Process-level services of the operating system, at task level.
// POSIX: process_posix.cpp. Windows: process_win.cpp.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mendly::platform {

// Full path of the running executable (/proc/self/exe on Linux,
// GetModuleFileNameW on Windows); empty when it cannot be read.
std::filesystem::path executablePath();

// True when a debugger is attached to this process (TracerPid on Linux).
// Linux has no separate "remote debugger" case.
bool isDebuggerAttached();

// The arguments the process was started with, program name first, as UTF-8
// (/proc/self/cmdline on Linux; CommandLineToArgvW on Windows). Empty when
// they cannot be read.
std::vector<std::string> processArguments();

std::uint32_t currentProcessId();

// True when this process may run the file at `path` as a program.
bool isExecutableFile(const std::filesystem::path& path);

// Opens the null device on each of standard input, output and error that is
// closed, so that no file opened later takes its number (and console text
// never lands in the log). Called first thing by every program.
void ensureStandardStreams();

// Starts `argv[0]` (a path) with these arguments in `workingFolder`, with the
// caller's environment, and does not wait for it. Standard input, output and
// error are inherited; nothing else is (every other descriptor is closed in
// the child). False when the program could not be started.
// POSIX: posix_spawn; Windows: CreateProcessW with CREATE_NO_WINDOW, the
// standard handles passed on explicitly and no other handle inherited.
[[nodiscard]] bool spawnDetached(const std::vector<std::string>& argv,
                                 const std::filesystem::path& workingFolder);

// Runs `argv[0]` (a path) in this process instead of the running program:
// same process number, terminal, process group and working folder; only
// descriptors without close-on-exec stay open (standard input, output and
// error). Returns only when that failed (false). Windows cannot replace a
// program: the new one starts on this console with this process's standard
// handles and working folder, and this process ends at once with code 0.
[[nodiscard]] bool replaceProcess(const std::vector<std::string>& argv);

// Moves `from` over `to`, replacing an existing file atomically; across file
// systems the file is copied and the source removed. False on failure, with
// `to` unchanged.
[[nodiscard]] bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace mendly::platform

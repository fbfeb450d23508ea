#pragma once
// The operating-system services keelswap needs, at task level. Every call to
// the OS lives behind this header. POSIX: os_posix.cpp (a Windows port adds
// os_win.cpp). Paths and command-line texts are UTF-8 bytes.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace mendly::keelswap::os {

// Full path of the running executable (/proc/self/exe; GetModuleFileNameW on
// Windows); empty when it cannot be read.
[[nodiscard]] std::string ownExecutablePath();

enum class ProcessWait {
    Ended,      // the process ended within the limit
    TimedOut,   // it was still running when the limit passed
    NotOpened,  // it could not be opened, typically because it has already ended
};

// Waits until the process with this identifier has ended, for at most `limit`.
// POSIX: pidfd_open + poll (a process that is already gone cannot be opened);
// where pidfd_open is missing, the process is probed every 20 ms instead.
// Windows: OpenProcess(SYNCHRONIZE) + WaitForSingleObject.
[[nodiscard]] ProcessWait waitForProcessExit(std::uint32_t pid, std::chrono::milliseconds limit);

// True when both paths name the same file. POSIX: the texts are equal, or both
// exist and have the same device and inode, so that another spelling of the
// same file (a relative path, a link, a case-folding file system) is
// recognised while a differently cased name on a case-sensitive file system
// is a different file. Windows: equal texts ignoring letter case.
[[nodiscard]] bool isSameFile(const std::string& a, const std::string& b);

// Replaces `destination` with a copy of `source`, overwriting it; a link at
// `destination` is followed and the file it names is replaced. POSIX: the copy
// is written to a temporary file beside the destination, flushed to disk and
// renamed over it, so the replacement is atomic and also works for an
// executable that is running (writing into that in place fails with
// ETXTBSY). The copy takes the source's permission bits. On failure the
// destination is unchanged and no temporary file is left behind.
// Windows: copied beside the destination, flushed, then moved over it
// (MoveFileExW with replace and write-through).
[[nodiscard]] bool replaceWithCopy(const std::string& source, const std::string& destination);

// Removes a folder (or file or link) with everything in it. A path that does
// not exist is not an error. Returns false when the removal reported an error.
[[nodiscard]] bool removeTree(const std::string& path);

// Starts a program with these arguments (argv[0] is looked up in PATH when it
// holds no slash), in the inherited working folder and environment, and does
// not wait for it. Returns false when the program could not be started.
// Windows: CreateProcessW on the joined command line.
// Only standard input, output and error reach the program.
[[nodiscard]] bool spawnDetached(const std::vector<std::string>& argv);

// Runs the program in this process instead (argv[0] looked up in PATH when it
// holds no slash): same process number, terminal and descriptors 0-2. Returns
// only when that failed (false).
[[nodiscard]] bool replaceProcess(const std::vector<std::string>& argv);

// This process's number.
std::uint32_t currentProcessId();

// Opens the null device on standard input, output or error where one is
// closed, before anything else is opened.
void ensureStandardStreams();

}  // namespace mendly::keelswap::os

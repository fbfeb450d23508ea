#pragma once
// Process-level services of the operating system, at task level.
// POSIX: process_posix.cpp. Windows: process_win.cpp.
#include <filesystem>

namespace mendly::platform {

// Full path of the running executable (/proc/self/exe on Linux,
// GetModuleFileNameW on Windows); empty when it cannot be read.
std::filesystem::path executablePath();

// True when a debugger is attached to this process (TracerPid on Linux).
bool isDebuggerAttached();

}  // namespace mendly::platform

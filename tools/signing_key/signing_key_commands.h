#pragma once
// What each signing_key command does, writing its result to `out` and its
// complaints (prefixed "signing_key: ") to `err`.
#include <ostream>

#include "signing_key_command_line.h"

namespace mendly::signing {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// kExitDone or kExitFailed; `command` comes from parseSigningCommand.
int runSigningCommand(const SigningCommand& command, std::ostream& out, std::ostream& err);

}  // namespace mendly::signing

#pragma once
// The manifest is fetched over the network, and its paths become file names
// under the installation folder and names inside the game's archives. This
// check keeps them there. Pure; thread-safe.
#include <string>
#include <string_view>

namespace mendly {

// Empty when `relative` may be used; otherwise why not, as a short English
// phrase ("climbs out of the installation folder"). Refused:
// - a NUL character anywhere;
// - a path that starts at a root ('/' or '\') or names a drive ("C:...");
// - a ".." that climbs above the installation folder ("." and empty
//   components do not count);
// - a path that does not end in a file name (empty, ends with a separator,
//   "." or "..");
// - a path not in canonical form: an empty component (doubled separator), or
//   a "." or ".." component anywhere;
// - for an archive member, a ".." that climbs above the archive's root, or a
//   member name that is empty once a "pak_" prefix is removed.
std::string manifestPathProblem(std::string_view relative);

}  // namespace mendly

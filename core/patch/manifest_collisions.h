#pragma once
// Two manifest entries must never name the same file: a run would write one
// and verify the other, and report success while the file flips between two
// contents run after run. Pure; thread-safe.
#include <string>
#include <vector>

#include "patch/manifest.h"

namespace mendly {

// Empty when no two entries name the same file; otherwise the first clash as
// `files[j]: "<path>" ...`. Paths are compared as the file system and the
// archives see them: ASCII case ignored, '\' as '/', and for archive members
// the member name with its "pak_" prefix removed. A loose path equal to an
// archive's own file ("gfx.pak", any case) clashes with that archive.
// Expects paths that passed manifestPathProblem.
std::string manifestCollisionProblem(const std::vector<ManifestEntry>& files);

}  // namespace mendly

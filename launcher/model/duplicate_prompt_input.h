#pragma once
// The rules of the "Duplicate Installation" prompt, apart from its window:
// the default name of a copy and the checks made when OK is pressed.
#include <optional>
#include <string>
#include <string_view>

#include "catalog/server_catalog.h"
#include "model/notice.h"

namespace mendly {

// What the prompt returns: the names are UTF-8; confirmed only after OK
// passed the checks.
struct DuplicatePromptResult {
    std::string name;
    std::string description;
    bool confirmed = false;
};

// <name>-copy-<N> for the smallest N in 1..999 that no catalog entry uses
// (ASCII case ignored); <name>-copy when all of them are taken.
std::string defaultCopyName(const ServerCatalog& catalog, const ServerEntry& entry);

// OK pressed with these field texts: spaces and tabs are removed at both ends;
// an empty name, or one already used by a catalog entry (ASCII case ignored),
// gives the notice to show while the prompt stays open. Otherwise the
// confirmed result (an empty description becomes the name).
struct DuplicatePromptCheck {
    std::optional<Notice> refusal;
    DuplicatePromptResult result;
};
DuplicatePromptCheck checkDuplicatePromptInput(std::string_view name, std::string_view description,
                                               const ServerCatalog& catalog);

// The prompt's field limits, in UTF-16 units.
inline constexpr std::size_t kDuplicateNameMaxUnits = 255;
inline constexpr std::size_t kDuplicateDescriptionMaxUnits = 511;

}  // namespace mendly

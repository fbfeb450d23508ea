#pragma once
// The modal "Duplicate Installation" prompt (GTK): a name and a description
// field, OK and Cancel. Enter presses OK, Escape and the close button cancel.
// OK with an empty name or a name already in use shows a box over the prompt
// and keeps it open. UI thread only; the launcher window is insensitive while
// the prompt is up, and posted messages keep being handled.
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "catalog/server_catalog.h"
#include "model/duplicate_prompt_input.h"

namespace mendly {

class EngineWindow;

DuplicatePromptResult promptDuplicate(const EngineWindow* owner, const std::string& defaultName,
                                      const std::string& defaultDescription, const ServerCatalog& catalog);

// Test seam: while set, the real prompt is shown and, shortly after each time
// it waits for the user, the driver is asked what to type (name, description)
// for that attempt (0, 1, ...) and OK is pressed; nothing means Cancel.
using DuplicatePromptDriver =
    std::function<std::optional<std::pair<std::string, std::string>>(int attempt)>;
void setDuplicatePromptDriver(DuplicatePromptDriver driver);

}  // namespace mendly

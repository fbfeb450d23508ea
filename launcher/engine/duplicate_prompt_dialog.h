#pragma once
// The modal "Duplicate Installation" prompt (GTK): a name and a description
// field, OK and Cancel. Enter presses OK, Escape and the close button cancel.
// OK with an empty name or a name already in use shows a box over the prompt
// and keeps it open. UI thread only; the launcher window is insensitive while
// the prompt is up, and posted messages keep being handled.
#include <functional>
#include <optional>
#include <string>

#include "catalog/server_catalog.h"
#include "model/duplicate_prompt_input.h"

namespace mendly {

class EngineWindow;

DuplicatePromptResult promptDuplicate(const EngineWindow* owner, const std::string& defaultName,
                                      const std::string& defaultDescription, const ServerCatalog& catalog);

// Test seam: while set, the real prompt is shown and, shortly after each time
// it waits for the user, the driver is told what the fields show and asked
// which name to type for that attempt (0, 1, ...); then OK is pressed (the
// description field is left as it is). Nothing means Cancel.
using DuplicatePromptDriver = std::function<std::optional<std::string>(int attempt, const std::string& name,
                                                                       const std::string& description)>;
void setDuplicatePromptDriver(DuplicatePromptDriver driver);

}  // namespace mendly

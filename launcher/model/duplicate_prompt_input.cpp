#include "model/duplicate_prompt_input.h"

#include "log/text.h"

namespace mendly {
namespace {

bool nameInUse(const ServerCatalog& catalog, std::string_view name) {
    for (const auto& entry : catalog.entries)
        if (equalsIgnoreAsciiCase(entry.name, name)) return true;
    return false;
}

// Only spaces and tabs: other white space is part of what the user typed.
std::string_view trimSpacesAndTabs(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::string defaultCopyName(const ServerCatalog& catalog, const ServerEntry& entry) {
    for (int n = 1; n <= 999; ++n) {
        std::string candidate = entry.name + "-copy-" + std::to_string(n);
        if (!nameInUse(catalog, candidate)) return candidate;
    }
    return entry.name + "-copy";
}

DuplicatePromptCheck checkDuplicatePromptInput(std::string_view name, std::string_view description,
                                               const ServerCatalog& catalog) {
    const auto trimmedName = trimSpacesAndTabs(name);
    const auto trimmedDescription = trimSpacesAndTabs(description);
    if (trimmedName.empty())
        return {Notice{u"Please enter a name for the duplicated client.", u"Duplicate", NoticeIcon::Information}, {}};
    if (nameInUse(catalog, trimmedName))
        return {Notice{u"That name is already in use. Choose a different name.", u"Duplicate", NoticeIcon::Warning},
                {}};
    DuplicatePromptResult result;
    result.name = std::string(trimmedName);
    result.description = std::string(trimmedDescription.empty() ? trimmedName : trimmedDescription);
    result.confirmed = true;
    return {std::nullopt, std::move(result)};
}

}  // namespace mendly

#pragma once
// The rules for the name of a new installation, which becomes a folder name
// under clients/ and must be valid on every platform the suite runs on.
#include <string>
#include <string_view>

namespace mendly {

// True when `name` may name a new installation. Otherwise false with one
// sentence for the user in `error` (untouched on success). The rules apply to
// the name as given; callers trim it first.
[[nodiscard]] bool validateInstallationName(std::u16string_view name, std::u16string& error);

}  // namespace mendly

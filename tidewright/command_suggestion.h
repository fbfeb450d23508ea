#pragma once
// The command a mistyped word was probably meant to be, for the line that
// follows the unrecognised-command error. Pure functions; any thread.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace mendly {

// Edits (insert, delete, replace, swap two neighbours) that turn `a` into
// `b`, ASCII letter case ignored.
std::size_t editDistance(std::u16string_view a, std::u16string_view b);

// The known command or option word closest to `word`, when it is close
// enough to be a slip of the keyboard: at most one edit for a word of up to
// seven letters (leading "-" and "/" not counted), two for a longer one.
// Nothing for a word that is known as it is, or one that nothing is close to.
// On a tie the earlier word of the usage text wins.
std::optional<std::u16string> closestCommand(std::u16string_view word);

}  // namespace mendly

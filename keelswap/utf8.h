#pragma once
// UTF-8 to UTF-16 conversion of keelswap's arguments.
#include <optional>
#include <string>
#include <string_view>

namespace mendly::keelswap {

// Converts UTF-8 bytes to UTF-16. The empty text gives the empty result.
// Returns nothing when the bytes are not well-formed UTF-8 (a stray or
// missing continuation byte, an overlong form, an encoded surrogate or a
// value above U+10FFFF): such a path or command line cannot name what the
// caller meant, so it is refused instead of being guessed at.
// On POSIX the file system and posix_spawnp take the UTF-8 bytes themselves;
// the conversion there serves to check the text before anything is done.
[[nodiscard]] std::optional<std::u16string> utf8ToWide(std::string_view utf8);

}  // namespace mendly::keelswap

#pragma once
// The content type the page scheme answers for a file, chosen by its
// extension (ASCII letters in any case); "application/octet-stream" when the
// extension is unknown.
#include <string>
#include <string_view>

namespace mendly {

std::string contentTypeForName(std::u16string_view name);

}  // namespace mendly

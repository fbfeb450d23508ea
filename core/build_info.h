#pragma once
// The build's version text: eight lowercase hexadecimal digits taken from the
// source revision when the build was configured. The same in every program.
#include <string>

namespace mendly {
const char* buildIdentifierUtf8();
std::u16string buildIdentifier();
}  // namespace mendly

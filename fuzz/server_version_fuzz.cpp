// The two readings of a published _version._ file on arbitrary bytes: the
// display text (formatServerVersion) and the text compared with the local
// installation (cleanVersionText). Neither may crash, hang or throw; the
// display text is never empty, never ends with white space (it starts with
// white space only where the "KaltrisNexum-" prefix stood before it) and holds
// no carriage return or tab; the compared text holds no line break or tab and
// neither starts nor ends with white space, nor ends with a zero. On a plain
// one-line version text both readings agree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "catalog/version_text.h"
#include "model/server_version.h"

namespace {

bool isSpaceUnit(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace mendly;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::u16string shown = formatServerVersion(bytes);
    if (shown.empty()) std::abort();
    if (isSpaceUnit(shown.back())) std::abort();
    if (isSpaceUnit(shown.front()) && bytes.find("KaltrisNexum-") == std::string_view::npos) std::abort();
    if (shown.find_first_of(u"\r\t") != std::u16string::npos) std::abort();

    const std::u16string compared = cleanVersionText(bytes);
    if (compared.find_first_of(u"\r\t\n") != std::u16string::npos) std::abort();
    if (!compared.empty() && (isSpaceUnit(compared.front()) || isSpaceUnit(compared.back()) || compared.back() == 0))
        std::abort();

    // A plain one-line text: no byte-order mark, line breaks, tabs, "\n"
    // escapes, zero bytes or prefix. Both trim the same white space.
    const bool plain = bytes.find_first_of(std::string_view("\r\n\t\\\0\xEF", 6)) == std::string_view::npos &&
                       bytes.find("KaltrisNexum-") == std::string_view::npos;
    if (plain && !compared.empty() && shown != compared) std::abort();
    if (plain && compared.empty() && shown != kVersionNone) std::abort();
    return 0;
}

#include "net/url_host.h"

namespace mendly {

std::u16string hostOfUrl(std::u16string_view url) {
    std::u16string_view rest = url;
    if (const auto scheme = rest.find(u"://"); scheme != std::u16string_view::npos) rest.remove_prefix(scheme + 3);
    rest = rest.substr(0, rest.find_first_of(u"/?#"));
    // A user name or password is not the host, and is never shown.
    if (const auto at = rest.rfind(u'@'); at != std::u16string_view::npos) rest.remove_prefix(at + 1);
    if (rest.empty()) return std::u16string(url);
    return std::u16string(rest);
}

}  // namespace mendly

#include "patch/fetch_context.h"

namespace mendly {
namespace {

std::u16string ofServer(std::u16string_view serverName) {
    return serverName.empty() ? std::u16string() : u" of " + std::u16string(serverName);
}

}  // namespace

std::u16string patchListContext(std::u16string_view serverName, std::u16string_view host) {
    return u"while fetching the patch list" + ofServer(serverName) + u" from " + std::u16string(host);
}

std::u16string fileContext(std::u16string_view relative, std::u16string_view serverName, std::u16string_view host) {
    return u"while fetching the file " + std::u16string(relative) + ofServer(serverName) + u" from " +
           std::u16string(host);
}

std::u16string withContext(std::u16string_view sentence, std::u16string_view context) {
    return std::u16string(sentence) + u"\n" + std::u16string(context);
}

}  // namespace mendly

#include "catalog/installation_name.h"

#include "log/text.h"

namespace mendly {
namespace {

constexpr std::size_t kMaxNameUnits = 80;
constexpr std::u16string_view kForbidden = u"\\/:*?\"<>|";

bool isDeviceName(std::u16string_view stem) {
    static constexpr std::u16string_view kDevices[] = {
        u"CON",  u"PRN",  u"AUX",  u"NUL",  u"COM1", u"COM2", u"COM3", u"COM4",
        u"COM5", u"COM6", u"COM7", u"COM8", u"COM9", u"LPT1", u"LPT2", u"LPT3",
        u"LPT4", u"LPT5", u"LPT6", u"LPT7", u"LPT8", u"LPT9"};
    for (const auto device : kDevices)
        if (equalsIgnoreAsciiCase(stem, device)) return true;
    return false;
}

}  // namespace

bool validateInstallationName(std::u16string_view name, std::u16string& error) {
    if (name.empty() || name == u"." || name == u"..") {
        error = u"That name cannot be used for an installation.";
        return false;
    }
    if (name.size() > kMaxNameUnits) {
        error = u"That name is too long.";
        return false;
    }
    if (name.back() == u' ' || name.back() == u'.') {
        error = u"Names cannot end with a space or a period.";
        return false;
    }
    for (const char16_t c : name) {
        if (c < 0x20 || kForbidden.find(c) != std::u16string_view::npos) {
            error = u"Names cannot include \\ / : * ? \" < > |.";
            return false;
        }
    }
    if (isDeviceName(name.substr(0, name.find(u'.')))) {
        error = u"That name is reserved by Windows.";
        return false;
    }
    return true;
}

}  // namespace mendly

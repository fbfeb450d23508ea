#include "net/url_check.h"

#include <windows.h>
#include <winhttp.h>

namespace mendly {

bool platformAcceptsRequestUrl(const std::string& requestUrl) {
    // The address is ASCII (splitUrl escaped everything else), so widening
    // byte by byte is exact.
    const std::wstring wide(requestUrl.begin(), requestUrl.end());
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    // Non-zero lengths with null pointers: the parts are located, not copied.
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    return WinHttpCrackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts) != FALSE;
}

}  // namespace mendly

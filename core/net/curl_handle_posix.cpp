#include "net/curl_handle.h"

#include <memory>
#include <mutex>

namespace mendly {
namespace {

bool globalInit() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

struct EasyCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

}  // namespace

CURL* threadEasyHandle() {
    if (!globalInit()) return nullptr;
    thread_local std::unique_ptr<CURL, EasyCleanup> handle;
    if (!handle) {
        handle.reset(curl_easy_init());
    } else {
        curl_easy_reset(handle.get());
    }
    return handle.get();
}

}  // namespace mendly

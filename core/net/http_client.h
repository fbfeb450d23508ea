#pragma once
// The one network operation: an HTTP(S) GET of a whole resource into memory.
//
// Success is exactly status 200 with the whole body received. On failure the
// body is empty and `error` holds one sentence for the user ending in
// " (HTTP <status>)" or " (error <code>)", or exactly "Cancelled". On success
// `error` is left as it was. Thread-safe: many calls may run at once.
#include <atomic>
#include <string>
#include <string_view>

namespace mendly {

// `cancel` may be null (not cancellable). It is honoured once the response
// headers have arrived, before each read of the body.
bool httpGet(std::u16string_view url, std::string& body, std::u16string& error,
             const std::atomic<bool>* cancel);
bool httpGet(std::u16string_view url, std::string& body, std::u16string& error);

}  // namespace mendly

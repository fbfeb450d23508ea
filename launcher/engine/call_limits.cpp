#include "call_limits.h"

namespace mendly {

std::size_t jsonNestingDepth(std::string_view json, std::size_t limit) {
    std::size_t depth = 0;
    std::size_t deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            if (c == '\\') ++i;  // the escaped character is never a quote that ends the string
            else if (c == '"') inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > deepest) deepest = depth;
            if (deepest > limit) return deepest;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

std::string callLimitViolation(std::string_view json) {
    if (json.size() > kMaxCallBytes) return "too large";
    if (jsonNestingDepth(json, kMaxCallDepth) > kMaxCallDepth) return "nested too deeply";
    return {};
}

}  // namespace mendly

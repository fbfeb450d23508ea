#include "patch/vfile/archive_name.h"

#include <algorithm>

namespace mendly::vfile {

std::string normalizeArchiveName(std::string_view name) {
    // Both separators become '\\'; leading ones are dropped and runs collapsed.
    std::string s;
    s.reserve(name.size());
    for (char c : name) {
        if (c == '/') c = '\\';
        if (c == '\\' && (s.empty() || s.back() == '\\')) continue;
        s.push_back(c);
    }

    // Each replacement shortens the text, so this ends.
    for (std::size_t at = s.find("\\.\\"); at != std::string::npos; at = s.find("\\.\\"))
        s.replace(at, 3, "\\");

    if (s.size() >= 2 && s[0] == '.' && s[1] == '\\') s.erase(0, 2);

    for (;;) {
        const std::size_t up = s.find("\\..\\", 1);
        if (up == std::string::npos) break;
        const std::size_t parentStart = s.rfind('\\', up - 1);
        if (parentStart == std::string::npos) break;
        // Drop "\parent\.." and keep the '\' that follows it.
        s.erase(parentStart + 1, up + 4 - (parentStart + 1));
    }

    if (s.empty()) s = ".";
    return s;
}

std::string archiveKey(std::string_view name) {
    std::string key(name);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

bool archiveKeyLess(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (ca != cb) return ca < cb;
    }
    return a.size() < b.size();
}

}  // namespace mendly::vfile

// normalizeArchiveName and classifyArchivePath on arbitrary text. Checks the
// invariants every caller relies on, and compares the normalisation with an
// independent model that works on components.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "patch/archive_paths.h"

namespace {

// Empty components go, "." between separators goes, one leading "." goes, and
// a ".." followed by a separator removes its parent unless that parent is the
// first component, which ends the resolution. Empty result: ".".
std::string modelNormalize(std::string_view name) {
    std::vector<std::string> parts{""};
    for (const char c : name) {
        if (c == '/' || c == '\\')
            parts.emplace_back();
        else
            parts.back().push_back(c);
    }
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (!parts[i].empty() || (i + 1 == parts.size() && !kept.empty())) kept.push_back(parts[i]);
    std::vector<std::string> dotless;
    for (std::size_t i = 0; i < kept.size(); ++i)
        if (!(kept[i] == "." && i > 0 && i + 1 < kept.size())) dotless.push_back(kept[i]);
    if (dotless.size() >= 2 && dotless[0] == ".") dotless.erase(dotless.begin());
    std::vector<std::string> out;
    bool stopped = false;
    for (std::size_t i = 0; i < dotless.size(); ++i) {
        const bool resolvable = !stopped && dotless[i] == ".." && i + 1 < dotless.size() && !out.empty();
        if (resolvable && out.size() == 1) stopped = true;
        if (resolvable && !stopped)
            out.pop_back();
        else
            out.push_back(dotless[i]);
    }
    std::string joined;
    for (std::size_t i = 0; i < out.size(); ++i) joined += (i ? "\\" : "") + out[i];
    return joined.empty() ? "." : joined;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace mendly;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::string name = normalizeArchiveName(text);
    if (name.empty() || name.front() == '\\' || name.find('/') != std::string::npos ||
        name.find("\\\\") != std::string::npos || name.find("\\.\\") != std::string::npos)
        std::abort();
    if (name != modelNormalize(text)) std::abort();

    const std::string key = archiveKey(name);
    if (key.size() != name.size()) std::abort();
    for (const char c : key)
        if (c >= 'A' && c <= 'Z') std::abort();

    if (const auto ref = classifyArchivePath(text)) {
        bool known = false;
        for (const std::string_view archive : archiveNameTable) known = known || archive == ref->archiveName;
        if (!known || ref->memberPath.find('/') != std::string::npos) std::abort();
        if (ref->hadPakPrefix != !ref->legacyMemberPath.empty()) std::abort();
        if (ref->hadPakPrefix && ref->legacyMemberPath.size() != ref->memberPath.size() + 4) std::abort();
    }
    return 0;
}

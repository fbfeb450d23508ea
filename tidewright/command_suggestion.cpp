#include "command_suggestion.h"

#include <algorithm>
#include <vector>

#include "log/text.h"

namespace mendly {
namespace {

// In the order of the usage text. "--key" and "--folder" are left out: they
// only mean something after "--add-server".
constexpr std::u16string_view kKnownWords[] = {
    u"--update-all", u"--update-single", u"--verify",     u"--duplicate",  u"--delete",
    u"--add-server", u"--version",       u"--help",       u"--limit-rate", u"--quiet",
    u"--json",       u"--skip-self-update",
};

std::size_t allowedEdits(std::u16string_view word) {
    const std::size_t start = word.find_first_not_of(u"-/");
    const std::size_t letters = start == std::u16string_view::npos ? 0 : word.size() - start;
    if (letters == 0) return 0;
    return letters <= 7 ? 1 : 2;
}

}  // namespace

std::size_t editDistance(std::u16string_view a, std::u16string_view b) {
    const std::u16string x = asciiLowered(a), y = asciiLowered(b);
    // Rows i-2, i-1 and i of the table of distances between prefixes.
    std::vector<std::size_t> before(y.size() + 1), previous(y.size() + 1), current(y.size() + 1);
    for (std::size_t j = 0; j <= y.size(); ++j) previous[j] = j;
    for (std::size_t i = 1; i <= x.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= y.size(); ++j) {
            const std::size_t substitution = previous[j - 1] + (x[i - 1] == y[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitution});
            if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1])
                current[j] = std::min(current[j], before[j - 2] + 1);
        }
        before.swap(previous);
        previous.swap(current);
    }
    return previous[y.size()];
}

std::optional<std::u16string> closestCommand(std::u16string_view word) {
    const std::size_t allowed = allowedEdits(word);
    std::optional<std::u16string> best;
    std::size_t bestDistance = allowed + 1;
    for (const std::u16string_view known : kKnownWords) {
        const std::size_t distance = editDistance(word, known);
        if (distance == 0) return std::nullopt;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = std::u16string(known);
        }
    }
    return best;
}

}  // namespace mendly

#include "options.h"

#include "utf8.h"

#include <limits>

namespace mendly::keelswap {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isValidText(const std::string& text) {
    return utf8ToWide(text).has_value();
}

}  // namespace

std::optional<std::uint32_t> parseProcessId(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t firstDigit = i;
    std::uint64_t value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
        ++i;
    }
    if (i == firstDigit) return std::nullopt;
    if (negative && value != 0) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::optional<Options> parseArguments(const std::vector<std::string>& args) {
    Options options;
    const std::size_t count = args.size();
    std::size_t i = 0;
    while (i < count) {
        const std::string& word = args[i];
        const std::size_t left = count - i - 1;  // arguments after this word
        if (word == "--wait-pid" && left >= 1) {
            const auto pid = parseProcessId(args[i + 1]);
            if (!pid) return std::nullopt;
            options.waitPid = *pid;
            i += 2;
        } else if (word == "--replace" && left >= 3 && args[i + 2] == "--with") {
            if (!isValidText(args[i + 1]) || !isValidText(args[i + 3])) return std::nullopt;
            options.jobs.push_back(CopyJob{args[i + 1], args[i + 3]});
            i += 4;
        } else if (word == "--cleanup-dir" && left >= 1) {
            if (!isValidText(args[i + 1])) return std::nullopt;
            options.cleanupDir = args[i + 1];
            i += 2;
        } else if (word == "--exec" && left >= 1) {
            if (!isValidText(args[i + 1])) return std::nullopt;
            options.execLine = args[i + 1];
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    if (options.jobs.empty()) return std::nullopt;
    return options;
}

}  // namespace mendly::keelswap

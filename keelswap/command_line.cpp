#include "command_line.h"

namespace mendly::keelswap {

namespace {

bool isSeparator(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::vector<std::string> splitCommandLine(std::string_view line) {
    std::vector<std::string> args;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (true) {
        while (i < n && isSeparator(line[i])) ++i;
        if (i >= n) break;

        std::string arg;
        bool quoted = false;
        while (i < n) {
            const char c = line[i];
            if (c == '\\') {
                std::size_t slashes = 0;
                while (i < n && line[i] == '\\') {
                    ++slashes;
                    ++i;
                }
                if (i < n && line[i] == '"') {
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2 == 1) {
                        arg.push_back('"');
                        ++i;
                    }
                    // With an even count the quote is handled on the next turn.
                } else {
                    arg.append(slashes, '\\');
                }
            } else if (c == '"') {
                if (quoted && i + 1 < n && line[i + 1] == '"') {
                    arg.push_back('"');
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else if (!quoted && isSeparator(c)) {
                break;
            } else {
                arg.push_back(c);
                ++i;
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

}  // namespace mendly::keelswap

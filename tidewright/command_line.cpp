#include "command_line.h"

#include "log/text.h"
#include "net/rate_limit.h"

namespace mendly {
namespace {

constexpr std::u16string_view kLimitOption = u"--limit-rate";

// Takes the options that may stand anywhere out of `arguments`; false with
// command.error set when one of them is wrong.
bool takeOptions(const std::vector<std::u16string>& arguments, std::vector<std::u16string>& rest,
                 CliCommand& command) {
    bool quiet = false, json = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::u16string& argument = arguments[i];
        const std::u16string_view head = std::u16string_view(argument).substr(0, kLimitOption.size());
        const bool limitWord = equalsIgnoreAsciiCase(head, kLimitOption);
        if (equalsIgnoreAsciiCase(argument, u"--skip-self-update")) continue;
        if (equalsIgnoreAsciiCase(argument, u"--quiet")) {
            quiet = true;
        } else if (equalsIgnoreAsciiCase(argument, u"--json")) {
            json = true;
        } else if (limitWord && (argument.size() == kLimitOption.size() || argument[kLimitOption.size()] == u'=')) {
            std::u16string value;
            if (argument.size() > kLimitOption.size()) {
                value = argument.substr(kLimitOption.size() + 1);
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            } else {
                command.error = u"--limit-rate needs a value, for example --limit-rate 5M.";
                return false;
            }
            const auto rate = parseRateLimit(value);
            if (!rate) {
                command.error = rateLimitProblem(value);
                return false;
            }
            command.rateLimit = *rate;
        } else {
            rest.push_back(argument);
        }
    }
    if (quiet && json) {
        command.error = u"Choose one of --quiet and --json.";
        return false;
    }
    command.output = json ? CliOutput::Json : quiet ? CliOutput::Quiet : CliOutput::Standard;
    return true;
}

}  // namespace

CliCommand parseCommandLine(const std::vector<std::u16string>& arguments) {
    std::vector<std::u16string> args;
    CliCommand command;
    if (!takeOptions(arguments, args, command)) return command;
    if (args.empty()) return command;  // List

    const std::u16string& word = args[0];
    const auto is = [&word](std::u16string_view option) { return equalsIgnoreAsciiCase(word, option); };
    const std::size_t count = args.size();

    if (count == 1 && (is(u"--help") || is(u"-h") || is(u"/?"))) {
        command.kind = CliCommandKind::Help;
    } else if (count == 1 && is(u"--update-all")) {
        command.kind = CliCommandKind::UpdateAll;
    } else if (count == 2 && is(u"--update-single")) {
        command.kind = CliCommandKind::UpdateSingle;
        command.name = trimWide(args[1]);
    } else if (count == 2 && is(u"--verify")) {
        command.kind = CliCommandKind::Verify;
        command.name = trimWide(args[1]);
    } else if (count == 3 && is(u"--duplicate")) {
        command.kind = CliCommandKind::Duplicate;
        command.name = trimWide(args[1]);
        command.newName = trimWide(args[2]);
    } else if (count == 2 && is(u"--delete")) {
        command.kind = CliCommandKind::Delete;
        command.name = trimWide(args[1]);
    } else {
        command.error = u"Unrecognized command. Run tidewright --help.";
    }
    return command;
}

}  // namespace mendly

#include "command_line.h"

#include "command_suggestion.h"
#include "log/text.h"
#include "net/rate_limit.h"

namespace mendly {
namespace {

constexpr std::u16string_view kLimitOption = u"--limit-rate";
constexpr std::u16string_view kUnrecognized = u"Unrecognized command. Run tidewright --help.";

// The usage lines of a command that takes operands; empty for other words.
std::vector<std::u16string> usageOf(std::u16string_view word) {
    static constexpr struct {
        std::u16string_view word;
        std::u16string_view usage;
    } kUsages[] = {
        {u"--update-all", u"Usage: tidewright --update-all"},
        {u"--update-single", u"Usage: tidewright --update-single <name>"},
        {u"--verify", u"Usage: tidewright --verify <name>"},
        {u"--duplicate", u"Usage: tidewright --duplicate <name> <new-name>"},
        {u"--delete", u"Usage: tidewright --delete <name>"},
        {u"--version", u"Usage: tidewright --version"},
        {u"--add-server", u"Usage: tidewright --add-server <name> <address> [--key <key>] [--folder <folder>]"},
    };
    for (const auto& usage : kUsages) {
        if (!equalsIgnoreAsciiCase(word, usage.word)) continue;
        std::vector<std::u16string> lines{std::u16string(usage.usage)};
        if (usage.word == u"--add-server")
            lines.emplace_back(u"   or: tidewright --add-server <server-file.json> [--folder <folder>]");
        return lines;
    }
    return {};
}

// What follows the unrecognised-command error: how a known command is used,
// or which command a mistyped word was probably meant to be.
std::vector<std::u16string> hintFor(const std::u16string& word) {
    std::vector<std::u16string> lines = usageOf(word);
    if (!lines.empty()) return lines;
    if (const auto closest = closestCommand(word))
        lines.push_back(u"Unknown command \"" + word + u"\". Did you mean " + *closest + u"?");
    return lines;
}

// "--key VALUE" / "--key=VALUE" at args[i] (advancing i past the value). False
// when args[i] is not that option; true with `error` set when it is given
// without a value or a second time.
bool takeValueOption(const std::vector<std::u16string>& args, std::size_t& i, std::u16string_view option,
                     std::u16string& value, std::u16string& error) {
    const std::u16string& argument = args[i];
    const bool bare = equalsIgnoreAsciiCase(argument, option);
    const bool joined = argument.size() > option.size() && argument[option.size()] == u'=' &&
                        equalsIgnoreAsciiCase(std::u16string_view(argument).substr(0, option.size()), option);
    if (!bare && !joined) return false;
    if (!value.empty()) {
        error = std::u16string(option) + u" may be given only once.";
    } else if (joined) {
        value = trimWide(std::u16string_view(argument).substr(option.size() + 1));
    } else if (i + 1 < args.size()) {
        value = trimWide(args[++i]);
    }
    if (value.empty() && error.empty()) error = std::u16string(option) + u" needs a value.";
    return true;
}

// args[0] is "--add-server".
void parseAddServer(const std::vector<std::u16string>& args, CliCommand& command) {
    std::vector<std::u16string> operands;
    for (std::size_t i = 1; i < args.size() && command.error.empty(); ++i) {
        if (!takeValueOption(args, i, u"--key", command.key, command.error) &&
            !takeValueOption(args, i, u"--folder", command.folder, command.error))
            operands.push_back(trimWide(args[i]));
    }
    if (!command.error.empty()) return;
    command.kind = CliCommandKind::AddServer;
    if (operands.size() == 2) {
        command.name = operands[0];
        command.address = operands[1];
    } else if (operands.size() == 1 && command.key.empty()) {
        command.serverFile = operands[0];
    } else if (operands.size() == 1) {
        command.error = u"A server file names its own key: give --key only with a name and an address.";
    } else {
        command.error = std::u16string(kUnrecognized);
        command.hint = usageOf(args[0]);
    }
}

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
    } else if (count == 1 && is(u"--version")) {
        command.kind = CliCommandKind::Version;
    } else if (is(u"--add-server")) {
        parseAddServer(args, command);
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
        command.error = std::u16string(kUnrecognized);
        command.hint = hintFor(word);
    }
    return command;
}

}  // namespace mendly

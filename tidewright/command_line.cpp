#include "command_line.h"

#include "log/text.h"

namespace mendly {

CliCommand parseCommandLine(const std::vector<std::u16string>& arguments) {
    std::vector<std::u16string> args;
    for (const std::u16string& argument : arguments)
        if (!equalsIgnoreAsciiCase(argument, u"--skip-self-update")) args.push_back(argument);

    CliCommand command;
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

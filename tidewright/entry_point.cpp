#include "entry_point.h"

#include "catalog/server_catalog.h"
#include "command_line.h"
#include "console_output.h"
#include "build_info.h"
#include "help_text.h"
#include "list_command.h"
#include "log/log_file.h"
#include "log/text.h"
#include "self_update_step.h"

namespace mendly {
namespace {

// Update, duplicate and delete are not part of this build yet.
int commandNotAvailable(ConsoleOutput& console) {
    return console.printError(u"This command is not available in this build.");
}

int dispatch(ConsoleOutput& console, const CliCommand& command, const std::filesystem::path& folder,
             const ServerCatalog& catalog) {
    switch (command.kind) {
        case CliCommandKind::List:
            return listInstallations(console, folder, catalog);
        case CliCommandKind::UpdateSingle:
            if (!findServer(catalog, toUtf8(command.name)))
                return console.printError(u"No installation named \"" + command.name + u"\".");
            return commandNotAvailable(console);
        case CliCommandKind::UpdateAll:
        case CliCommandKind::Duplicate:
        case CliCommandKind::Delete:
        case CliCommandKind::Help:  // answered before the catalog is loaded
            break;
    }
    return commandNotAvailable(console);
}

}  // namespace

int runTidewright(const std::vector<std::u16string>& argv) {
    if (argv.empty()) return 1;  // no argument list at all: nothing to go on
    ConsoleOutput& console = ConsoleOutput::standard();

    const std::filesystem::path folder = programFolder();
    if (!LogFile::open(folder))
        console.printLine(u"Error: Could not create launcher.log in " + toWide(folder.native()));
    LogFile::write(u"CLI Updater starting");
    LogFile::write(u"CLI Updater version " + buildIdentifier());

    const CliCommand command = parseCommandLine({argv.begin() + 1, argv.end()});
    printBanner(console);
    if (!command.error.empty()) {
        console.printError(command.error);
        LogFile::close();
        return 1;
    }
    if (command.kind == CliCommandKind::Help) {
        printUsage(console);
        LogFile::close();
        return 0;
    }

    if (!selfUpdateSkipped(argv)) console.printLine(u"Checking for launcher updates...");
    if (launcherSelfUpdateStaged(folder)) {
        console.printLine(u"Updating launcher files. The updater will restart.");
        LogFile::close();
        return 0;
    }

    const ServerCatalog catalog = loadServerCatalog(folder);
    if (catalog.entries.empty()) {
        console.printError(u"No servers configured.");
        LogFile::close();
        return 1;
    }

    const int exitCode = dispatch(console, command, folder, catalog);
    LogFile::close();
    return exitCode;
}

}  // namespace mendly

#include "entry_point.h"

#include "add_server_command.h"
#include "catalog/entry_confinement.h"
#include "catalog/path_text.h"
#include "catalog/server_catalog.h"
#include "command_line.h"
#include "console_output.h"
#include "build_info.h"
#include "help_text.h"
#include "installation_commands.h"
#include "list_command.h"
#include "log/log_file.h"
#include "trust/trusted_keys.h"
#include "log/text.h"
#include "self_update_step.h"
#include "update_command.h"

namespace mendly {
namespace {

int dispatch(ConsoleOutput& console, const CliCommand& command, const std::filesystem::path& folder,
             const ServerCatalog& catalog) {
    switch (command.kind) {
        case CliCommandKind::List:
            return listInstallations(console, folder, catalog);
        case CliCommandKind::UpdateAll:
            return runUpdates(console, folder, catalog, std::nullopt, UpdateDepth::TrustRecord, command.rateLimit);
        case CliCommandKind::UpdateSingle:
        case CliCommandKind::Verify: {
            const auto index = findServer(catalog, toUtf8(command.name));
            if (!index) {
                console.printError(u"No installation named \"" + command.name + u"\".");
                console.printLine(knownNamesLine(catalog));
                return 1;
            }
            const UpdateDepth depth =
                command.kind == CliCommandKind::Verify ? UpdateDepth::VerifyEverything : UpdateDepth::TrustRecord;
            return runUpdates(console, folder, catalog, catalog.entries[*index], depth, command.rateLimit);
        }
        case CliCommandKind::Duplicate:
            return duplicateCommand(console, folder, catalog, command.name, command.newName);
        case CliCommandKind::Delete:
            return deleteCommand(console, folder, catalog, command.name);
        case CliCommandKind::AddServer:
            return addServerCommand(console, folder, catalog, command);
        case CliCommandKind::Help:  // answered before the catalog is loaded
        case CliCommandKind::Version:
            break;
    }
    return 1;
}

}  // namespace

int runTidewright(const std::vector<std::u16string>& argv) {
    if (argv.empty()) return 1;  // no argument list at all: nothing to go on
    ConsoleOutput& console = ConsoleOutput::standard();

    const std::filesystem::path folder = programFolder();
    if (!LogFile::open(folder))
        console.printLine(u"Error: Could not create launcher.log in " + pathText(folder));
    LogFile::write(u"CLI Updater starting");
    LogFile::write(u"CLI Updater version " + buildIdentifier());
    logUpdateSigningState();

    const CliCommand command = parseCommandLine({argv.begin() + 1, argv.end()});
    if (command.output == CliOutput::Quiet) console.setStyle(ConsoleStyle::Quiet);
    if (command.output == CliOutput::Json) console.setStyle(ConsoleStyle::Json);
    printBanner(console);
    if (!command.error.empty()) {
        console.printError(command.error);
        for (const std::u16string& line : command.hint) console.printLine(line);
        LogFile::close();
        return 1;
    }
    if (command.kind == CliCommandKind::Help || command.kind == CliCommandKind::Version) {
        if (command.kind == CliCommandKind::Help) printUsage(console);
        else console.printResult(u"tidewright version " + buildIdentifier());
        LogFile::close();
        return 0;
    }

    if (!selfUpdateSkipped(argv)) console.printLine(u"Checking for launcher updates...");
    if (launcherSelfUpdateFailedHandOver(folder, [&] {
            console.printLine(u"Updating launcher files. The updater will restart.");
            LogFile::close();
        }))
        return 1;

    // A server can be added to a catalog that has none yet.
    const ServerCatalog catalog = loadUsableCatalog(folder);
    if (catalog.entries.empty() && command.kind != CliCommandKind::AddServer) {
        console.printError(u"No servers configured.");
        LogFile::close();
        return 1;
    }

    const int exitCode = dispatch(console, command, folder, catalog);
    LogFile::close();
    return exitCode;
}

}  // namespace mendly

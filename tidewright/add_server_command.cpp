#include "add_server_command.h"

#include "catalog/install_layout.h"
#include "catalog/path_compare.h"
#include "catalog/path_text.h"
#include "catalog/server_addition.h"
#include "catalog/server_file.h"
#include "log/log_file.h"
#include "log/text.h"
#include "patch/patch_address_check.h"

namespace mendly {
namespace {

std::filesystem::path fromCurrentFolder(const std::u16string& text) {
    return text.empty() ? std::filesystem::path() : normalizePath(widePath(text));
}

void printAdded(ConsoleOutput& console, const std::filesystem::path& programFolder, const ServerEntry& entry) {
    const std::u16string name = toWide(entry.name);
    console.printLine(u"Added " + name + u" to customlist.json.");
    console.printLine(u"Folder: " + pathText(installFolder(programFolder, entry)));
    console.printLine(u"Install it with: tidewright --update-single \"" + name + u"\"");
    LogFile::write(u"CLI added server: " + name + u" (" + manifestUrl(entry) + u")");
}

}  // namespace

int addServerCommand(ConsoleOutput& console, const std::filesystem::path& programFolder,
                     const ServerCatalog& catalog, const CliCommand& command) {
    const PatchAddressCheck check = [&console](const ServerEntry& entry, const TrustedKeys& trust) {
        console.printLine(u"Checking " + manifestUrl(entry) + (trust.required ? u" and its signature..." : u"..."));
        return patchAddressProblem(entry, trust);
    };
    ServerEntry entry;
    if (!command.serverFile.empty()) {
        std::u16string error;
        const auto fromFile = readServerFile(fromCurrentFolder(command.serverFile), error);
        if (!fromFile) return console.printError(error);
        entry = *fromFile;
        entry.installPath = toUtf8(pathText(fromCurrentFolder(command.folder)));
    } else {
        const ServerRequest request{command.name, command.address, command.key, fromCurrentFolder(command.folder)};
        ServerAdditionResult refusal;
        const auto fromRequest = entryForRequest(request, refusal);
        if (!fromRequest) return console.printError(refusal.sentence);
        entry = *fromRequest;
    }
    const ServerAdditionResult result = addServerEntry(programFolder, catalog, entry, check);
    if (result.outcome != ServerAddition::Added) return console.printError(result.sentence);
    printAdded(console, programFolder, result.entry);
    return 0;
}

}  // namespace mendly

#include "list_command.h"

#include <algorithm>

#include "catalog/install_layout.h"
#include "log/text.h"
#include "patch/interrupted_install.h"

namespace mendly {

std::u16string listedVersion(std::u16string_view version) {
    const std::size_t dash = version.find(u'-');
    if (dash != std::u16string_view::npos && dash + 1 < version.size())
        return std::u16string(version.substr(dash + 1));
    return std::u16string(version);
}

std::u16string padRight(std::u16string_view text, std::size_t width) {
    std::u16string padded(text);
    if (padded.size() < width) padded.append(width - padded.size(), u' ');
    return padded;
}

std::vector<ListRow> buildListRows(const std::filesystem::path& programFolder, const ServerCatalog& catalog) {
    std::vector<ListRow> rows;
    rows.reserve(catalog.entries.size());
    for (const ServerEntry& entry : catalog.entries) {
        ListRow row;
        row.name = toWide(entry.name);
        row.description = toWide(displayName(entry));
        const std::filesystem::path folder = installFolder(programFolder, entry);
        if (!isInstalled(folder, entry.launchExecutable)) {
            const std::uint64_t staged = interruptedInstallBytes(folder, entry.launchExecutable);
            row.state = staged > 0 ? InstallStatus::PartlyDownloaded : InstallStatus::NotInstalled;
            row.status = staged > 0 ? partlyDownloadedText(staged) : installStatusText(row.state);
        } else {
            std::u16string local;
            const bool ok = readLocalVersion(folder, local);
            // Always fetched, also without a local version: the status needs it.
            const std::u16string published = fetchRemoteVersion(entry);
            row.state = installStatus(true, local, published);
            row.status = installStatusText(row.state);
            row.version = listedVersion(ok ? local : published);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

ListColumnWidths columnWidths(const std::vector<ListRow>& rows) {
    ListColumnWidths widths;
    for (const ListRow& row : rows) {
        widths.name = std::max(widths.name, row.name.size());
        widths.status = std::max(widths.status, row.status.size());
        widths.version = std::max(widths.version, row.version.size());
    }
    return widths;
}

namespace {

// A partly downloaded client wants the same attention as an outdated one.
ConsoleColour statusColour(InstallStatus status) {
    switch (status) {
        case InstallStatus::UpToDate: return ConsoleColour::Green;
        case InstallStatus::OutOfDate:
        case InstallStatus::PartlyDownloaded: return ConsoleColour::Yellow;
        case InstallStatus::NotInstalled: return ConsoleColour::Red;
        case InstallStatus::Unknown: break;
    }
    return ConsoleColour::Default;
}

}  // namespace

void printListTable(ConsoleOutput& console, const std::vector<ListRow>& rows) {
    const ListColumnWidths widths = columnWidths(rows);
    console.printLine(padRight(u"Name", widths.name) + u"  " + padRight(u"Status", widths.status) + u"  " +
                      padRight(u"Version", widths.version) + u"  Description");
    for (const ListRow& row : rows) {
        console.printSegments({
            {padRight(row.name, widths.name) + u"  ", ConsoleColour::Default},
            {padRight(row.status, widths.status), statusColour(row.state)},
            {u"  " + padRight(row.version, widths.version) + u"  " + row.description, ConsoleColour::Default},
        });
    }
}

int listInstallations(ConsoleOutput& console, const std::filesystem::path& programFolder,
                      const ServerCatalog& catalog) {
    printListTable(console, buildListRows(programFolder, catalog));
    return 0;
}

}  // namespace mendly

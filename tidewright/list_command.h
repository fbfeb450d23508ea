#pragma once
// The List command: one row per catalog entry with its name, install status,
// version and description. Runs on the main thread; the published versions of
// installed entries are downloaded one after another, and nothing is printed
// until every row is built.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "catalog/install_status.h"
#include "catalog/server_catalog.h"
#include "console_output.h"
#include "patch/partly_downloaded.h"  // partlyDownloadedText, the listing's status of one

namespace mendly {

struct ListRow {
    std::u16string name;
    // "Not Installed", "Unknown", "Up To Date", "Out of Date" or
    // partlyDownloadedText; `state` says which (and gives the colour).
    std::u16string status;
    std::u16string version;
    std::u16string description;
    InstallStatus state = InstallStatus::Unknown;
};

// Widths in UTF-16 units: at least the header word, raised to the longest text.
struct ListColumnWidths {
    std::size_t name = 4;     // "Name"
    std::size_t status = 6;   // "Status"
    std::size_t version = 7;  // "Version"
};

// The version as the table shows it: the text after the first "-" when
// something follows that "-"; otherwise the text unchanged.
std::u16string listedVersion(std::u16string_view version);

// Appends spaces on the right up to `width`; a longer text stays as it is.
std::u16string padRight(std::u16string_view text, std::size_t width);

// One row per entry, in catalog order. Downloads the published version of
// every installed entry (failures become "Unknown" and are logged). An entry
// that is not installed but has an interrupted install staged is listed as
// partly downloaded, without a version.
std::vector<ListRow> buildListRows(const std::filesystem::path& programFolder, const ServerCatalog& catalog);

ListColumnWidths columnWidths(const std::vector<ListRow>& rows);

// The header line, then one coloured line per row.
void printListTable(ConsoleOutput& console, const std::vector<ListRow>& rows);

// Builds and prints the table. Returns the exit code, always 0.
int listInstallations(ConsoleOutput& console, const std::filesystem::path& programFolder,
                      const ServerCatalog& catalog);

}  // namespace mendly

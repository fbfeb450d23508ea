#include "help_text.h"

namespace mendly {

void printBanner(ConsoleOutput& console) {
    console.printSegments({{u"Kaltris CLI Updater", ConsoleColour::White},
                           {u" by the ", ConsoleColour::Default},
                           {u"Kaltris Support Team", ConsoleColour::Green}});
    console.printLine(u"");
}

void printUsage(ConsoleOutput& console) {
    static constexpr const char16_t* kLines[] = {
        u"Usage:",
        u"  tidewright",
        u"      Show built-in and custom installations.",
        u"",
        u"  tidewright --update-all",
        u"      Update every installed client, including custom servers.",
        u"",
        u"  tidewright --update-single <name>",
        u"      Update one client. If it is not installed yet, install it.",
        u"",
        u"  tidewright --verify <name>",
        u"      Check every file of one client against the server and repair what",
        u"      differs, whatever the installation's record says.",
        u"",
        u"  tidewright --duplicate <name> <new-name>",
        u"      Copy an installation and add it to customlist.json.",
        u"",
        u"  tidewright --delete <name>",
        u"      Delete a custom installation and remove it from customlist.json.",
        u"      Built-in servers cannot be deleted.",
        u"",
        u"  tidewright --add-server <name> <address> [--key <key>] [--folder <folder>]",
        u"      Add a server to customlist.json. The address is where the server",
        u"      publishes its files, for example https://patch.example.org:8080/aurum;",
        u"      its patch manifest is fetched and checked before anything is saved.",
        u"      --key: the public key that signs the server's manifests.",
        u"      --folder: install the client there instead of under clients.",
        u"  tidewright --add-server <server-file.json> [--folder <folder>]",
        u"      The same from a server file handed out by the server's operator.",
        u"",
        u"  tidewright --version",
        u"      Show the updater's version.",
        u"",
        u"  tidewright --help",
        u"",
        u"Options for --update-all, --update-single and --verify:",
        u"  --limit-rate <rate>",
        u"      Download at most this many bytes per second, all transfers together;",
        u"      K, M and G mean 1024, 1024*1024 and 1024*1024*1024 (for example 5M).",
        u"  --quiet",
        u"      Print only errors and the summary.",
        u"  --json",
        u"      Print one JSON object per line for every event (for scripts).",
    };
    for (const char16_t* line : kLines) console.printLine(line);
}

}  // namespace mendly

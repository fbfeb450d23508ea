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
        u"  tidewright --help",
    };
    for (const char16_t* line : kLines) console.printLine(line);
}

}  // namespace mendly

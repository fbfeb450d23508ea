#pragma once
// The banner that opens every run and the usage text of "--help".
#include "console_output.h"

namespace mendly {

// "Kaltris CLI Updater" (white), " by the ", "Kaltris Support Team" (green),
// then an empty line.
void printBanner(ConsoleOutput& console);
// The usage lines: the commands, then the options of the update commands.
// "--skip-self-update" is deliberately not listed.
void printUsage(ConsoleOutput& console);

}  // namespace mendly

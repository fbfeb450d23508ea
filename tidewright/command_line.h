#pragma once
// tidewright's command line: what to do and on which entries.
#include <cstdint>
#include <string>
#include <vector>

namespace mendly {

enum class CliCommandKind : int {
    List = 0,          // no arguments
    Help = 1,          // "--help", "-h" or "/?"
    UpdateAll = 2,     // "--update-all"
    UpdateSingle = 3,  // "--update-single" name
    Duplicate = 4,     // "--duplicate" name new-name
    Delete = 5,        // "--delete" name
    Verify = 6,        // "--verify" name: update with every file hashed again
    Version = 7,       // "--version"
    // "--add-server" name address [--key KEY] [--folder PATH], or
    // "--add-server" server-file [--folder PATH]
    AddServer = 8,
};

// How a command's progress and lines are written (--quiet, --json); Standard
// is the bar on a terminal and plain lines elsewhere.
enum class CliOutput : int { Standard = 0, Quiet = 1, Json = 2 };

struct CliCommand {
    CliCommandKind kind = CliCommandKind::List;
    std::u16string name;     // first operand, trimmed; empty when there is none
    std::u16string newName;  // Duplicate's second operand, trimmed
    std::u16string error;    // empty when understood; otherwise the message to show
    // Lines shown after the error: the mistyped word and the command it was
    // probably meant to be, or the usage of a command given the wrong operands.
    std::vector<std::u16string> hint;
    std::uint64_t rateLimit = 0;  // "--limit-rate N[K|M|G]" in bytes per second; 0: none
    CliOutput output = CliOutput::Standard;

    // AddServer: `name` and `address`, or the server file the operator handed
    // out (then name and address are empty); all trimmed.
    std::u16string address;
    std::u16string serverFile;
    std::u16string key;     // "--key KEY" or "--key=KEY"; empty: none
    std::u16string folder;  // "--folder PATH" or "--folder=PATH"; empty: clients/<name>
};

// `arguments` are those after the program name. Option words ignore letter
// case; every "--skip-self-update" (any case) is dropped before matching, and
// so are "--quiet", "--json" and "--limit-rate VALUE" (or "--limit-rate=VALUE"),
// which may stand anywhere; a value parseRateLimit refuses, a missing value
// or both --quiet and --json make the error.
// Operands are trimmed of white space at both ends and not examined further:
// one that trims to nothing becomes an empty name. "--key" and "--folder"
// belong to "--add-server" and may stand anywhere after it, once each.
CliCommand parseCommandLine(const std::vector<std::u16string>& arguments);

}  // namespace mendly

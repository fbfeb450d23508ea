#pragma once
// The line that follows a failed download's sentence, naming what was being
// fetched and from which host, so that a player can tell a dead mirror from a
// dead connection:
//   "while fetching the patch list of Emberfall Main from patch.example.org"
//   "while fetching the file data/a.bin of Emberfall Main from 10.0.0.5:8080"
// Without a server name the " of <name>" part is left out. Pure functions.
#include <string>
#include <string_view>

namespace mendly {

std::u16string patchListContext(std::u16string_view serverName, std::u16string_view host);
std::u16string fileContext(std::u16string_view relative, std::u16string_view serverName, std::u16string_view host);

// sentence + "\n" + context: what a run hands its caller as the error text.
std::u16string withContext(std::u16string_view sentence, std::u16string_view context);

}  // namespace mendly

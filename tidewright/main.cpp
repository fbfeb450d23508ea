#include <csignal>
#include <string>
#include <vector>

#include "entry_point.h"
#include "log/text.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    mendly::platform::ensureStandardStreams();
    // A console reader that went away must not end a run half-way: writes to
    // it fail quietly instead (see ConsoleOutput).
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<std::u16string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(mendly::toWide(argv[i]));
    return mendly::runTidewright(arguments);
}

#include <string>
#include <vector>

#include "entry_point.h"
#include "log/text.h"
#include "platform/cancel_signal.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    mendly::platform::ensureStandardStreams();
    mendly::platform::ignoreBrokenPipes();

    std::vector<std::u16string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(mendly::toWide(argv[i]));
    return mendly::runTidewright(arguments);
}

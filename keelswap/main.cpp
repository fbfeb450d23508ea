// keelswap: waits until a process has ended, copies staged files over the
// files it held open, removes the staging folder and starts a command line.
#include "os.h"
#include "replacement_run.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    mendly::keelswap::os::ensureStandardStreams();
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);

    mendly::keelswap::RunContext context;
    context.ownExecutable = mendly::keelswap::os::ownExecutablePath();
    context.ownPid = mendly::keelswap::os::currentProcessId();
    return mendly::keelswap::runKeelswap(args, context, std::cerr);
}

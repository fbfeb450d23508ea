// signing_key: makes Ed25519 signing keys, signs documents for the update
// hosts and checks their signatures.
#include <iostream>

#include "signing_key_command_line.h"
#include "signing_key_commands.h"

int main(int argc, char** argv) {
    using namespace mendly::signing;
    SigningCommand command;
    std::string error;
    if (!parseSigningCommand(argc, argv, command, error)) {
        std::cerr << "signing_key: " << error << "\n\n" << kSigningKeyUsage;
        return kExitUsage;
    }
    const int code = runSigningCommand(command, std::cout, std::cerr);
    std::cout.flush();
    return std::cout ? code : kExitFailed;
}

#include "signing_key_command_line.h"

#include <span>
#include <string_view>
#include <vector>

#include "hash/signature.h"

namespace mendly::signing {
namespace {

struct OptionRule {
    std::string_view flag;
    std::string SigningCommand::*field;
    bool required;
};

struct CommandRule {
    std::string_view name;
    SigningAction action;
    std::span<const OptionRule> options;
};

constexpr OptionRule kKeygenOptions[] = {{"--out", &SigningCommand::outFile, true}};
constexpr OptionRule kPublicOptions[] = {{"--key", &SigningCommand::keyFile, true}};
constexpr OptionRule kSignOptions[] = {{"--key", &SigningCommand::keyFile, true},
                                       {"--file", &SigningCommand::document, true},
                                       {"--out", &SigningCommand::outFile, false}};
constexpr OptionRule kVerifyOptions[] = {{"--public", &SigningCommand::publicKey, true},
                                         {"--file", &SigningCommand::document, true},
                                         {"--sig", &SigningCommand::signatureFile, false}};

constexpr CommandRule kCommands[] = {{"keygen", SigningAction::Keygen, kKeygenOptions},
                                     {"public", SigningAction::Public, kPublicOptions},
                                     {"sign", SigningAction::Sign, kSignOptions},
                                     {"verify", SigningAction::Verify, kVerifyOptions}};

const CommandRule* findCommand(std::string_view name) {
    for (const CommandRule& rule : kCommands)
        if (rule.name == name) return &rule;
    return nullptr;
}

// Reads the options after the command name into `command`.
bool parseOptions(const CommandRule& rule, int argc, const char* const* argv, SigningCommand& command,
                  std::string& error) {
    std::vector<bool> seen(rule.options.size(), false);
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::size_t index = 0;
        while (index < rule.options.size() && rule.options[index].flag != arg) ++index;
        if (index == rule.options.size()) {
            error = std::string(rule.name) + " does not take " + std::string(arg);
            return false;
        }
        if (seen[index]) {
            error = std::string(arg) + " is given twice";
            return false;
        }
        if (i + 1 >= argc || std::string_view(argv[i + 1]).empty()) {
            error = std::string(arg) + " needs a value";
            return false;
        }
        seen[index] = true;
        command.*rule.options[index].field = argv[++i];
    }
    for (std::size_t index = 0; index < rule.options.size(); ++index)
        if (rule.options[index].required && !seen[index]) {
            error = std::string(rule.name) + " needs " + std::string(rule.options[index].flag);
            return false;
        }
    return true;
}

bool completeCommand(SigningCommand& command, std::string& error) {
    if (command.action == SigningAction::Sign && command.outFile.empty()) command.outFile = command.document + ".sig";
    if (command.action == SigningAction::Verify) {
        if (command.signatureFile.empty()) command.signatureFile = command.document + ".sig";
        if (!parsePublicKeyText(command.publicKey)) {
            error = "--public is not a public key text (base64 of 32 bytes): " + command.publicKey;
            return false;
        }
    }
    return true;
}

}  // namespace

const char* const kSigningKeyUsage =
    "Usage: signing_key COMMAND [options]\n"
    "Ed25519 signing keys and signatures for published updates.\n"
    "\n"
    "  keygen --out KEY.pem            make a new private key (PEM, mode 0600; an existing\n"
    "                                  file is never replaced) and print its public key\n"
    "  public --key KEY.pem            print the public key of KEY.pem\n"
    "  sign --key KEY.pem --file DOC [--out DOC.sig]\n"
    "                                  write the signature of DOC (default DOC.sig)\n"
    "  verify --public TEXT --file DOC [--sig DOC.sig]\n"
    "                                  check DOC's signature against the public key TEXT\n"
    "  --help                          this text\n"
    "\n"
    "A public key is printed as base64 of its 32 bytes: the text for a deployment's\n"
    "\"signingKeys\" or a custom server's \"manifestKey\". A signature file holds\n"
    "base64 of the 64-byte signature over the document's exact bytes.\n"
    "\n"
    "Exit codes: 0 done (verify: the signature matches), 1 failed (verify: it does\n"
    "not, or cannot be read), 2 usage error.\n";

bool parseSigningCommand(int argc, const char* const* argv, SigningCommand& command, std::string& error) {
    command = SigningCommand{};
    for (int i = 1; i < argc; ++i)
        if (const std::string_view arg = argv[i]; arg == "--help" || arg == "-h") return true;
    if (argc < 2) {
        error = "no command given";
        return false;
    }
    const CommandRule* rule = findCommand(argv[1]);
    if (rule == nullptr) {
        error = "unknown command: " + std::string(argv[1]);
        return false;
    }
    command.action = rule->action;
    return parseOptions(*rule, argc, argv, command, error) && completeCommand(command, error);
}

}  // namespace mendly::signing

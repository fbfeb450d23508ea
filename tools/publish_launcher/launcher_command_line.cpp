#include "launcher_command_line.h"

#include <string_view>

#include "launcher_publication.h"

namespace mendly::publish {
namespace {

// The options as written, before they are checked.
struct Given {
    std::string programs, root, version, sign, expires, release;
};

struct OptionRule {
    std::string_view flag;
    std::string Given::*field;
};

constexpr OptionRule kOptions[] = {{"--programs", &Given::programs},
                                   {"--root", &Given::root},
                                   {"--version", &Given::version},
                                   {"--sign", &Given::sign},
                                   {"--expires", &Given::expires},
                                   {"--release", &Given::release}};

bool readOptions(int argc, const char* const* argv, Given& given, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const OptionRule* rule = nullptr;
        for (const OptionRule& candidate : kOptions)
            if (candidate.flag == arg) rule = &candidate;
        if (rule == nullptr) {
            error = "unknown argument: " + std::string(arg);
            return false;
        }
        if (!(given.*rule->field).empty()) {
            error = std::string(arg) + " is given twice";
            return false;
        }
        if (i + 1 >= argc || std::string_view(argv[i + 1]).empty()) {
            error = std::string(arg) + " needs a value";
            return false;
        }
        given.*rule->field = argv[++i];
    }
    return true;
}

bool checkExpiry(const Given& given, PublishLauncherCommand& command, std::string& error) {
    if (given.expires.empty()) {
        command.expiresDays = given.sign.empty() ? 0 : kDefaultExpiryDays;
        return true;
    }
    if (given.sign.empty()) {
        error = "--expires needs --sign: only a signed latest.json carries an expiry";
        return false;
    }
    if (given.expires.size() > 4 || given.expires.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(given.expires) < 1 || std::stoi(given.expires) > 3650) {
        error = "--expires needs a number of days from 1 to 3650";
        return false;
    }
    command.expiresDays = std::stoi(given.expires);
    return true;
}

bool checkRelease(const Given& given, PublishLauncherCommand& command, std::string& error) {
    if (given.release.empty()) return true;
    if (given.release.size() > 18 || given.release.find_first_not_of("0123456789") != std::string::npos) {
        error = "--release needs a whole number";
        return false;
    }
    command.release = std::stoull(given.release);
    return true;
}

}  // namespace

const char* const kPublishLauncherUsage =
    "Usage: publish_launcher --programs DIR --root HOSTDIR --version V [options]\n"
    "Publishes the suite's programs for the launcher-update host that serves HOSTDIR:\n"
    "copies launcher, keelswap and tidewright (those of them that are in DIR; at least\n"
    "one) into HOSTDIR and writes HOSTDIR/latest.json listing them.\n"
    "\n"
    "  --programs DIR   the folder with the built programs\n"
    "  --root HOSTDIR   the folder the update host serves\n"
    "  --version V      the programs' build identifier: eight lowercase hex digits\n"
    "  --release N      latest.json's release number (default: one more than the\n"
    "                   latest.json HOSTDIR holds, or 1); never lower than that one,\n"
    "                   since builds with \"signingKeys\" refuse a lower release\n"
    "                   than one they accepted\n"
    "  --sign KEY.pem   sign latest.json with this Ed25519 private key (PEM), written\n"
    "                   as HOSTDIR/latest.json.sig; builds with \"signingKeys\" accept\n"
    "                   only signed update information that has not expired\n"
    "  --expires DAYS   how long the signed latest.json is accepted (1-3650 days,\n"
    "                   default 30); only with --sign\n"
    "  --help           this text\n"
    "\n"
    "Exit codes: 0 published, 1 failed, 2 usage error.\n";

bool parsePublishLauncherCommand(int argc, const char* const* argv, PublishLauncherCommand& command,
                                 std::string& error) {
    command = PublishLauncherCommand{};
    for (int i = 1; i < argc; ++i)
        if (const std::string_view arg = argv[i]; arg == "--help" || arg == "-h") {
            command.help = true;
            return true;
        }
    Given given;
    if (!readOptions(argc, argv, given, error)) return false;
    if (given.programs.empty() || given.root.empty() || given.version.empty()) {
        error = "--programs, --root and --version are required";
        return false;
    }
    if (!isLauncherVersion(given.version)) {
        error = "--version must be eight lowercase hexadecimal digits: " + given.version;
        return false;
    }
    if (!checkExpiry(given, command, error) || !checkRelease(given, command, error)) return false;
    command.programs = given.programs;
    command.root = given.root;
    command.version = given.version;
    command.signingKey = given.sign;
    return true;
}

}  // namespace mendly::publish

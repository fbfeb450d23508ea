#include "publish_command_line.h"

#include <string_view>

namespace mendly::publish {

const char* const kPublishUsage =
    "Usage: publish_patch --client DIR --server NAME --root DIR [options]\n"
    "       publish_patch --preview --against HOSTDIR --client DIR --server NAME [options]\n"
    "Publishes a complete client folder for the patch host that serves DIR:\n"
    "writes ROOT/NAME.manifest and every file below ROOT/NAME/. With --preview it\n"
    "writes nothing and shows what publishing would change against HOSTDIR.\n"
    "\n"
    "  --client DIR       the client folder (loose files, ini/, _version._, archives\n"
    "                     as folders or as <name>.pak)\n"
    "  --server NAME      the server name of the catalog entry (letters, digits, . _ -)\n"
    "  --root DIR         the folder the patch host serves\n"
    "  --payload PATTERN  deliver the matching archive members as single-file payloads\n"
    "                     (pak_<file>); PATTERN matches <archive>/<member>, '*' any run\n"
    "                     of characters, '?' one character; may be repeated\n"
    "  --payload-all      deliver every archive member as a payload\n"
    "  --force            replace an existing publication of NAME; the files of the\n"
    "                     publication replaced stay served (below NAME/by-sha256/)\n"
    "                     until the next one, so players' runs in flight finish\n"
    "  --strict           refuse, writing nothing, a release that changes the client\n"
    "                     but not its _version._ (without it: a warning), since every\n"
    "                     player's listing would keep saying \"Up To Date\"\n"
    "  --release N        the manifest's release number (default: one more than the\n"
    "                     publication it replaces holds, 1 for the first); players refuse\n"
    "                     a signed manifest older than the one they installed\n"
    "  --expires DAYS     a signed manifest expires after DAYS days (default 30):\n"
    "                     publish again before then\n"
    "  --threads N        worker threads (default: all hardware threads)\n"
    "  --deltas-from N    for each file that changed since one of the last N releases\n"
    "                     published to ROOT (default 3), also serve a delta from that\n"
    "                     release's content when it is under half the file; players\n"
    "                     holding that content fetch the delta instead; 0: none\n"
    "  --sign KEY.pem     sign the manifest with this Ed25519 private key (PEM), written\n"
    "                     as ROOT/NAME.manifest.sig; clients built with the key's public\n"
    "                     key in \"signingKeys\" (or a custom server's \"manifestKey\")\n"
    "                     accept only signed manifests\n"
    "  --preview          publish nothing: list the files added, changed and removed\n"
    "                     against what the host serves now, what a player up to date\n"
    "                     with it fetches and what a fresh install fetches, and for\n"
    "                     players 1 to N releases behind (--deltas-from N) what they\n"
    "                     fetch whole and with deltas; writes no file anywhere\n"
    "                     (--force and --sign play no part, no key is read)\n"
    "  --against HOSTDIR  with --preview: the folder the patch host serves now, compared\n"
    "                     by HOSTDIR/NAME.manifest (default: --root; without that\n"
    "                     manifest every file counts as added)\n"
    "  --help             this text\n"
    "\n"
    "Exit codes: 0 published (or previewed), 1 failed, 2 usage error.\n";

namespace {

bool isDigits(const std::string& text, std::size_t maxDigits) {
    return !text.empty() && text.size() <= maxDigits && text.find_first_not_of("0123456789") == std::string::npos;
}

bool isNumberOption(std::string_view arg) {
    return arg == "--release" || arg == "--expires" || arg == "--deltas-from" || arg == "--threads";
}

// The value of a number option (isNumberOption) checked and stored in `options`.
bool setNumberOption(std::string_view arg, const std::string& text, PublishOptions& options, std::string& error) {
    if (arg == "--release" || arg == "--expires") {
        if (!isDigits(text, 18) || (arg == "--expires" && (text.size() > 5 || std::stoul(text) < 1))) {
            error = arg == "--release" ? "--release needs a whole number" : "--expires needs a number of days from 1 to 99999";
            return false;
        }
        if (arg == "--release") {
            options.release = std::stoull(text);
        } else {
            options.expiresDays = static_cast<unsigned>(std::stoul(text));
        }
    } else if (arg == "--deltas-from") {
        if (!isDigits(text, 2)) {
            error = "--deltas-from needs a number from 0 to 99";
            return false;
        }
        options.deltasFrom = static_cast<unsigned>(std::stoul(text));
    } else {
        if (!isDigits(text, 4) || std::stoi(text) < 1) {
            error = "--threads needs a number from 1 to 9999";
            return false;
        }
        options.threads = static_cast<unsigned>(std::stoi(text));
    }
    return true;
}

// The folders each mode needs, once every argument is read; --against
// defaults to --root for a preview.
bool checkRequiredFolders(PublishCommand& command, std::string& error) {
    if (command.preview) {
        if (command.against.empty()) command.against = command.root;
        if (command.client.empty() || command.server.empty() || command.against.empty()) {
            error = "--preview needs --client, --server and --against HOSTDIR (or --root)";
            return false;
        }
        return true;
    }
    if (!command.against.empty()) {
        error = "--against goes only with --preview";
        return false;
    }
    if (command.client.empty() || command.server.empty() || command.root.empty()) {
        error = "--client, --server and --root are required";
        return false;
    }
    return true;
}

}  // namespace

bool parsePublishCommand(int argc, const char* const* argv, PublishCommand& command, std::string& error) {
    command = PublishCommand{};
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = "missing value after " + std::string(arg);
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            command.help = true;
            return true;
        } else if (arg == "--client" || arg == "--root" || arg == "--against" || arg == "--sign") {
            if (!value(text)) return false;
            if (text.empty()) {
                error = std::string(arg) + (arg == "--sign" ? " needs a key file" : " needs a folder");
                return false;
            }
            (arg == "--client"  ? command.client
             : arg == "--root"  ? command.root
             : arg == "--sign"  ? command.signingKey
                                : command.against) = text;
        } else if (arg == "--preview") {
            command.preview = true;
        } else if (arg == "--server") {
            if (!value(command.server)) return false;
        } else if (arg == "--payload") {
            if (!value(text)) return false;
            if (text.empty()) {
                error = "--payload needs a pattern";
                return false;
            }
            command.options.payloadPatterns.push_back(text);
        } else if (arg == "--payload-all") {
            command.options.payloadAll = true;
        } else if (arg == "--force") {
            command.options.force = true;
        } else if (arg == "--strict") {
            command.options.strict = true;
        } else if (isNumberOption(arg)) {
            if (!value(text) || !setNumberOption(arg, text, command.options, error)) return false;
        } else {
            error = "unknown argument: " + std::string(arg);
            return false;
        }
    }
    return checkRequiredFolders(command, error);
}

}  // namespace mendly::publish

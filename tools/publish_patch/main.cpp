// publish_patch: publishes a complete game client for a static patch host.
#include <cstdio>
#include <iostream>
#include <optional>

#include "publish.h"
#include "publish_command_line.h"
#include "signing_key.h"

int main(int argc, char** argv) {
    using namespace mendly::publish;
    PublishCommand command;
    std::string error;
    if (!parsePublishCommand(argc, argv, command, error)) {
        std::cerr << "publish_patch: " << error << "\n\n" << kPublishUsage;
        return 2;
    }
    if (command.help) {
        std::cout << kPublishUsage;
        return 0;
    }
    // A key that cannot sign stops the publication before anything is written.
    std::optional<mendly::signing::SigningKey> key;
    if (!command.signingKey.empty()) {
        key = mendly::signing::SigningKey::load(command.signingKey, error);
        if (!key) {
            std::cerr << "publish_patch: unusable signing key: " << error << '\n';
            return 1;
        }
        command.options.signingKey = &*key;
    }
    PublishSummary summary;
    if (!publishClient(command.client, command.server, command.root, command.options, summary, error)) {
        std::cerr << "publish_patch: " << error << '\n';
        return 1;
    }
    for (const auto& pattern : summary.unmatchedPatterns)
        std::cerr << "publish_patch: warning: --payload " << pattern << " matched no archive member\n";
    std::printf("Published %s: %llu loose file(s), %llu archive member(s), %llu payload(s), %.1f MiB\n",
                command.server.c_str(), static_cast<unsigned long long>(summary.looseFiles),
                static_cast<unsigned long long>(summary.plainMembers),
                static_cast<unsigned long long>(summary.payloads),
                static_cast<double>(summary.bytesWritten) / (1024.0 * 1024.0));
    std::printf("Manifest: %s\n", summary.manifestPath.string().c_str());
    if (!summary.signaturePath.empty()) std::printf("Signature: %s\n", summary.signaturePath.string().c_str());
    return 0;
}

// publish_patch: publishes a complete game client for a static patch host.
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "delta_preview.h"
#include "preview_report.h"
#include "publish.h"
#include "publish_command_line.h"
#include "release_preview.h"
#include "signing_key.h"

namespace {

void warnUnmatched(const std::vector<std::string>& patterns) {
    for (const auto& pattern : patterns)
        std::cerr << "publish_patch: warning: --payload " << pattern << " matched no archive member\n";
}

// --preview: reads the client and the served manifest, writes nothing.
int preview(const mendly::publish::PublishCommand& command) {
    using namespace mendly::publish;
    std::string error;
    std::optional<mendly::PatchManifest> servedNow;
    if (!readServedManifest(command.against, command.server, servedNow, error)) {
        std::cerr << "publish_patch: " << error << '\n';
        return 1;
    }
    std::vector<ServedFile> files;
    std::vector<std::string> unmatched;
    if (!listServedFiles(command.client, command.options, files, unmatched, error)) {
        std::cerr << "publish_patch: " << error << '\n';
        return 1;
    }
    warnUnmatched(unmatched);
    const ReleasePreview result = previewRelease(servedNow ? &*servedNow : nullptr, files);
    const auto manifestPath = command.against / (command.server + ".manifest");
    std::string behind;
    if (!previewDeltaCosts(command.client, command.against, command.server, servedNow, files, command.options, behind,
                           error)) {
        std::cerr << "publish_patch: " << error << '\n';
        return 1;
    }
    std::cout << formatReleasePreview(result, command.server, manifestPath.string(), behind);
    return 0;
}

}  // namespace

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
    if (command.preview) return preview(command);
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
    warnUnmatched(summary.unmatchedPatterns);
    if (!summary.versionWarning.empty())
        std::cerr << "publish_patch: warning: " << summary.versionWarning << " (--strict refuses such a release)\n";
    std::printf("Published %s: %llu loose file(s), %llu archive member(s), %llu payload(s), %.1f MiB\n",
                command.server.c_str(), static_cast<unsigned long long>(summary.looseFiles),
                static_cast<unsigned long long>(summary.plainMembers),
                static_cast<unsigned long long>(summary.payloads),
                static_cast<double>(summary.bytesWritten) / (1024.0 * 1024.0));
    if (summary.deltas.deltas > 0)
        std::printf("Deltas: %llu for %llu file(s), %.1f MiB in place of %.1f MiB, made in %.1f s\n",
                    static_cast<unsigned long long>(summary.deltas.deltas),
                    static_cast<unsigned long long>(summary.deltas.files),
                    static_cast<double>(summary.deltas.deltaBytes) / (1024.0 * 1024.0),
                    static_cast<double>(summary.deltas.changedBytes) / (1024.0 * 1024.0), summary.deltas.seconds);
    std::printf("Manifest: %s\n", summary.manifestPath.string().c_str());
    if (!summary.signaturePath.empty()) std::printf("Signature: %s\n", summary.signaturePath.string().c_str());
    return 0;
}

// publish_launcher: publishes the suite's programs and latest.json for the
// launcher-update host.
#include <chrono>
#include <iostream>
#include <optional>

#include "launcher_command_line.h"
#include "launcher_publication.h"
#include "signing_key.h"
#include "trust/utc_timestamp.h"

int main(int argc, char** argv) {
    using namespace mendly::publish;
    PublishLauncherCommand command;
    std::string error;
    if (!parsePublishLauncherCommand(argc, argv, command, error)) {
        std::cerr << "publish_launcher: " << error << "\n\n" << kPublishLauncherUsage;
        return 2;
    }
    if (command.help) {
        std::cout << kPublishLauncherUsage;
        return 0;
    }
    LauncherPublishOptions options{command.programs, command.root, command.version, nullptr, {}, command.release};
    // A key that cannot sign stops the publication before anything is written.
    std::optional<mendly::signing::SigningKey> key;
    if (!command.signingKey.empty()) {
        key = mendly::signing::SigningKey::load(command.signingKey, error);
        if (!key) {
            std::cerr << "publish_launcher: unusable signing key: " << error << '\n';
            return 1;
        }
        options.signingKey = &*key;
        options.expires = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()) +
                          std::chrono::days(command.expiresDays);
    }
    LauncherPublishSummary summary;
    if (!publishLauncher(options, summary, error)) {
        std::cerr << "publish_launcher: " << error << '\n';
        return 1;
    }
    std::cout << "Published " << command.version << ":";
    for (const auto& program : summary.programs) std::cout << ' ' << program.name << " (" << program.size << " bytes)";
    std::cout << "\nlatest.json: " << summary.manifestPath.string() << " (release " << summary.release << ")\n";
    if (summary.signaturePath.empty())
        std::cerr << "publish_launcher: warning: latest.json is not signed; builds with signing keys refuse it\n";
    else
        std::cout << "Signature: " << summary.signaturePath.string() << " (expires "
                  << mendly::formatUtcTimestamp(options.expires) << ")\n";
    return 0;
}

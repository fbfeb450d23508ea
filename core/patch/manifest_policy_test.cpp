#include "patch/manifest_policy.h"

#include <gtest/gtest.h>

#include "log/text.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

using namespace std::chrono_literals;

PatchManifest signedManifest() {
    PatchManifest manifest;
    manifest.files = {{"a.txt", std::string(32, '0')}};
    manifest.files[0].sha256 = std::string(64, '0');
    manifest.release = 7;
    manifest.expires = "2030-01-01T00:00:00Z";
    manifest.server = "aurum";
    return manifest;
}

TEST(SignedManifestPolicy, EveryClaimIsCheckedAndAnUnsignedManifestIsTakenAsItIs) {
    const auto now = std::chrono::sys_days{std::chrono::year{2029} / 6 / 1} + 0s;
    TrustedKeys trust;
    trust.required = true;
    trust.server = "aurum";
    struct Case {
        const char* what;
        void (*change)(PatchManifest&);
        std::optional<std::uint64_t> installed;
        std::string problem;
    } cases[] = {
        {"all claims good", [](PatchManifest&) {}, 7, ""},
        {"newer than installed", [](PatchManifest&) {}, 6, ""},
        {"another server's", [](PatchManifest& m) { m.server = "ferrum"; }, std::nullopt,
         "The patch manifest is for another server (\"ferrum\")."},
        {"no server", [](PatchManifest& m) { m.server.clear(); }, std::nullopt,
         "The patch manifest is for another server (\"\")."},
        {"no expiry", [](PatchManifest& m) { m.expires.clear(); }, std::nullopt,
         "The patch manifest has no expiry date."},
        {"expired", [](PatchManifest& m) { m.expires = "2029-05-31T23:59:59Z"; }, std::nullopt,
         "The patch manifest expired on 2029-05-31T23:59:59Z."},
        {"expiring far beyond 2262", [](PatchManifest& m) { m.expires = "9999-12-31T23:59:59Z"; }, std::nullopt, ""},
        {"no release", [](PatchManifest& m) { m.release.reset(); }, std::nullopt,
         "The patch manifest has no release number."},
        {"older than installed", [](PatchManifest&) {}, 8,
         "The patch manifest (release 7) is older than the one already installed (release 8)."},
        {"a file without SHA-256", [](PatchManifest& m) { m.files.push_back({"b.txt", std::string(32, '1')}); },
         std::nullopt, "The patch manifest does not name a SHA-256 for every file."},
    };
    for (const Case& c : cases) {
        PatchManifest manifest = signedManifest();
        c.change(manifest);
        EXPECT_EQ(toUtf8(signedManifestProblem(manifest, trust, c.installed, now)), c.problem) << c.what;
        EXPECT_EQ(signedManifestProblem(manifest, TrustedKeys{}, c.installed, now), u"") << c.what;
    }
}

TEST(SignedManifestPolicy, TheInstalledReleaseIsKeptAsText) {
    test::TempDir install{"release-file"};
    EXPECT_FALSE(loadInstalledRelease(install.path()));
    ASSERT_TRUE(saveInstalledRelease(install.path(), 18446744073709551615ULL));
    EXPECT_EQ(loadInstalledRelease(install.path()), 18446744073709551615ULL);
    test::writeFile(install / std::string(kReleaseFileName), "12abc");
    EXPECT_FALSE(loadInstalledRelease(install.path()));
}

}  // namespace
}  // namespace mendly

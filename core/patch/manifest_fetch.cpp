#include "patch/manifest_fetch.h"

#include <chrono>
#include <optional>

#include "catalog/path_text.h"
#include "hash/digest.h"
#include "hash/signature.h"
#include "log/log_file.h"
#include "log/text.h"
#include "net/http_client.h"
#include "patch/cancel_flag.h"
#include "patch/fetch_context.h"
#include "patch/manifest_policy.h"
#include "patch/patch_reporting.h"
#include "trust/signature_diagnosis.h"
#include "trust/signed_fetch.h"

namespace mendly {
namespace fs = std::filesystem;
namespace {

constexpr std::u16string_view kDash = u" \u2014 ";

// How asking one host ended.
enum class Answer { Usable, Cancelled, Failed };

// One document from one host, asked again after transient failures while
// `attempts` and the policy's budget allow. A cancelled pause ends it as a
// cancellation.
bool getWithRetries(PatchWindow* window, std::u16string_view url, std::u16string_view host,
                    const HttpRequestOptions& options, const RetryPolicy& retry, int attempts, std::string& body,
                    std::u16string& error, HttpFailure& failure) {
    const auto began = std::chrono::steady_clock::now();
    for (int attempt = 1;; ++attempt) {
        if (httpGet(url, body, error, options, failure)) return true;
        if (failure.kind == HttpFailure::Kind::Cancelled || isPatchCancelRequested()) return false;
        if (!isTransientFailure(failure) || attempt >= attempts || !retry.mayAttempt(attempt + 1, began))
            return false;
        const auto wait = retry.waitBefore(attempt + 1);
        LogFile::write(u"WARNING: " + std::u16string(url) + std::u16string(kDash) + error);
        reportStatus(window, retryLine(wait, attempt + 1, attempts, host, failure));
        if (!retry.wait(wait, &patchCancelFlag())) {
            failure.kind = HttpFailure::Kind::Cancelled;
            return false;
        }
    }
}

// Everything about asking one host for the manifest.
struct HostAsk {
    PatchWindow* window;
    const ManifestSource& source;
    const TrustedKeys& trust;
    const fs::path& installDir;
    TransferRateLimit* limit;
    std::size_t host;
    bool last;  // no host is asked after this one

    int attempts() const { return last ? source.retry.attempts : 1; }
    std::u16string_view prefix() const { return last ? u"ERROR: " : u"WARNING: "; }
    std::u16string context() const {
        return patchListContext(source.serverName, source.hosts.label(host));
    }
    // A failure that is not the fetch's own: logged as the run always did;
    // named by its host only where several hosts could have sent it.
    Answer refuse(std::u16string text, std::u16string& error) const {
        LogFile::write(std::u16string(prefix()) + text);
        error = source.hosts.size() > 1 ? withContext(text, context()) : std::move(text);
        return Answer::Failed;
    }
};

// A signed manifest's own claims (server, expiry, release, digests); the
// release it names is then remembered.
Answer acceptClaims(const HostAsk& ask, const PatchManifest& manifest, std::u16string& error) {
    if (!ask.trust.required) return Answer::Usable;
    const auto installed = loadInstalledRelease(ask.installDir);
    std::u16string problem =
        signedManifestProblem(manifest, ask.trust, installed, std::chrono::system_clock::now());
    if (!problem.empty()) return ask.refuse(std::move(problem), error);
    if ((!installed || *manifest.release > *installed) && !saveInstalledRelease(ask.installDir, *manifest.release))
        LogFile::write(u"ERROR: Cannot write: " + toWide((ask.installDir / kReleaseFileName).string()));
    return Answer::Usable;
}

// The manifest's signature from the same host: nothing when it cannot be had.
std::optional<std::string> fetchSignature(const HostAsk& ask, const HttpRequestOptions& manifestOptions) {
    HttpRequestOptions options = manifestOptions;
    options.documentLimit = kHttpSmallDocumentLimit;
    std::string text;
    std::u16string error;
    HttpFailure failure;
    const std::u16string url = signatureUrl(ask.source.hosts.addresses(ask.host).manifestUrl);
    if (!getWithRetries(ask.window, url, ask.source.hosts.label(ask.host), options, ask.source.retry, ask.attempts(),
                        text, error, failure))
        return std::nullopt;
    return text;
}

Answer askHost(const HostAsk& ask, PatchManifest& manifest, std::string& digest, std::u16string& error) {
    const std::u16string& url = ask.source.hosts.addresses(ask.host).manifestUrl;
    HttpRequestOptions options;
    options.cancel = &patchCancelFlag();
    options.rateLimit = ask.limit;
    std::string bytes;
    std::u16string fetchError;
    HttpFailure failure;
    if (!getWithRetries(ask.window, url, ask.source.hosts.label(ask.host), options, ask.source.retry, ask.attempts(),
                        bytes, fetchError, failure)) {
        if (isPatchCancelRequested() || failure.kind == HttpFailure::Kind::Cancelled) return Answer::Cancelled;
        if (fetchError.empty()) fetchError = u"Manifest download failed";
        LogFile::write(std::u16string(ask.prefix()) + url + std::u16string(kDash) + fetchError);
        error = withContext(fetchError, ask.context());
        return Answer::Failed;
    }
    if (ask.trust.required) {
        const auto signature = fetchSignature(ask, options);
        if (isPatchCancelRequested()) return Answer::Cancelled;
        const SignatureCheck check = checkSignature(bytes, signature, ask.trust.keys);
        if (check != SignatureCheck::Valid)
            return ask.refuse(manifestSignatureSentence(diagnoseSignatureFailure(bytes, check, ask.trust)), error);
    }
    std::u16string parseError;
    if (!parseManifest(bytes, manifest, parseError)) return ask.refuse(std::move(parseError), error);
    if (manifest.files.empty()) {
        const Answer answer = ask.refuse(u"Manifest contains no files", error);
        reportStatus(ask.window, u"Manifest contains no files");
        return answer;
    }
    digest = sha256Hex(bytes);
    return acceptClaims(ask, manifest, error);
}

}  // namespace

PatchOutcome fetchRunManifest(PatchWindow* window, const ManifestSource& source, const TrustedKeys& trust,
                              const fs::path& installDir, TransferRateLimit* limit, PatchManifest& manifest,
                              std::string& digest, std::u16string& error) {
    // Keys were asked for and none can be used (unreadable, or weak enough
    // that anyone could forge what they sign): nothing could be believed.
    if (trust.required && trust.keys.empty())
        return failedWithLog(error, u"No usable key is known to check this server's patch manifest, so it cannot be "
                                    u"updated.", u"ERROR: ");
    reportStage(window, PatchStage::Manifest);
    for (std::size_t host = 0; host < source.hosts.size(); ++host) {
        const HostAsk ask{window, source, trust, installDir, limit, host, host + 1 == source.hosts.size()};
        manifest = PatchManifest{};
        std::u16string hostError;
        const Answer answer = askHost(ask, manifest, digest, hostError);
        if (answer == Answer::Usable) return PatchOutcome::Ok;
        if (answer == Answer::Cancelled) return cancelledWithLog(error, u"Patch cancelled while downloading manifest");
        source.hosts.demote(host, hostError.substr(0, hostError.find(u'\n')));
        error = std::move(hostError);
    }
    return PatchOutcome::Failed;
}

}  // namespace mendly

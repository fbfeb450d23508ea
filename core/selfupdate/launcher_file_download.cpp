#include "selfupdate/launcher_file_download.h"

#include "catalog/path_text.h"
#include "hash/digest.h"
#include "log/text.h"
#include "net/http_client.h"
#include "platform/file_output.h"

namespace mendly {
namespace {

LauncherFileDownload outcome(LauncherFileOutcome what, std::u16string problem = {}) {
    return {what, std::move(problem)};
}

}  // namespace

LauncherFileDownload downloadLauncherFile(std::u16string_view address, const LauncherFileEntry& entry,
                                          const std::filesystem::path& stagedPath) {
    const std::u16string stagedText = pathText(stagedPath);
    std::error_code ec;
    if (stagedPath.has_parent_path()) std::filesystem::create_directories(stagedPath.parent_path(), ec);
    platform::FileOutput out;
    if (!out.create(stagedPath)) return outcome(LauncherFileOutcome::WriteFailed, u"Cannot write: " + stagedText);

    const std::uint64_t limit = entry.size != 0 ? entry.size : kLauncherFileLimit;
    std::uint64_t received = 0;
    bool oversize = false;
    bool writeFailed = false;
    Sha256Stream digest;
    const HttpBodySink sink = [&](std::string_view piece, std::u16string&) {
        if (piece.size() > limit - received) {
            oversize = true;
            return false;
        }
        if (!out.write(piece)) {
            writeFailed = true;
            return false;
        }
        digest.update(piece);
        received += piece.size();
        return true;
    };
    std::u16string error;
    const bool fetched = httpGetStream(address, sink, error, HttpRequestOptions{});
    const bool closed = out.close();
    if (oversize) return outcome(LauncherFileOutcome::SizeMismatch);
    if (writeFailed || (fetched && !closed)) return outcome(LauncherFileOutcome::WriteFailed, u"Short write: " + stagedText);
    if (!fetched) return outcome(LauncherFileOutcome::DownloadFailed, std::move(error));
    if (entry.size != 0 && received != entry.size) return outcome(LauncherFileOutcome::SizeMismatch);
    if (digest.finishHex() != entry.sha256) return outcome(LauncherFileOutcome::HashMismatch);
    return outcome(LauncherFileOutcome::Staged);
}

}  // namespace mendly

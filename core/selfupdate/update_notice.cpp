#include "selfupdate/update_notice.h"

#include <cstdio>

#include "log/text.h"

namespace mendly {
namespace {

UpdateNoticeSink g_sink = nullptr;

void printToErrorStream(UpdateNoticeIcon icon, const std::u16string& text) {
    const std::string line = toUtf8(kUpdateNoticeTitle) + (icon == UpdateNoticeIcon::Error ? " (error): " : ": ") +
                             toUtf8(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

void setUpdateNoticeSink(UpdateNoticeSink sink) { g_sink = sink; }

void showUpdateNotice(UpdateNoticeIcon icon, const std::u16string& text) {
    (g_sink ? g_sink : printToErrorStream)(icon, text);
}

}  // namespace mendly

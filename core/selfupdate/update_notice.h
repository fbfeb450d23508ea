#pragma once
// The message boxes of the self-update, titled "Launcher update", without an
// owner window. The launcher installs a sink that shows a real message box;
// without one (tidewright) the text goes to the error stream.
#include <string>

namespace mendly {

enum class UpdateNoticeIcon { Warning, Error };
using UpdateNoticeSink = void (*)(UpdateNoticeIcon icon, const std::u16string& text);

inline constexpr char16_t kUpdateNoticeTitle[] = u"Launcher update";

// Set before the self-update runs (start-up thread); null restores the default.
void setUpdateNoticeSink(UpdateNoticeSink sink);
void showUpdateNotice(UpdateNoticeIcon icon, const std::u16string& text);

}  // namespace mendly

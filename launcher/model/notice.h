#pragma once
// A message for the user that a model operation asks its caller to show. The
// model never opens windows itself: the engine layer turns a Notice into a
// message box owned by the launcher window.
#include <string>

namespace mendly {

enum class NoticeIcon { Information, Warning, Error };

struct Notice {
    std::u16string text;
    std::u16string caption;
    NoticeIcon icon = NoticeIcon::Warning;

    bool operator==(const Notice&) const = default;
};

}  // namespace mendly

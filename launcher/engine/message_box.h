#pragma once
// Modal message boxes of the launcher (GtkMessageDialog), UI thread only.
// A box with an owner stays on top of and centred over that window; a box
// without one (start-up, self-update) stands alone. Posted messages keep being
// delivered while a box is open, as they are during any nested loop. Boxes
// follow the launcher's dark look (see initEngine) and show the themed icon
// of their kind ("dialog-information", "-warning", "-error", "-question").
#include <functional>
#include <optional>
#include <string>
#include <string_view>

typedef struct _GtkWindow GtkWindow;

namespace mendly {

class EngineWindow;

enum class MessageBoxIcon { None, Info, Warning, Error, Question };
// Yes/No boxes default to No; a Close box has the one button Close and
// answers Ok.
enum class MessageBoxButtons { Ok, YesNo, Close };
enum class MessageBoxAnswer { Ok, Yes, No };

struct MessageBoxRequest {
    bool owned = false;
    std::u16string text;
    std::u16string caption;
    MessageBoxIcon icon = MessageBoxIcon::Info;
    MessageBoxButtons buttons = MessageBoxButtons::Ok;
};

// Shows the box and waits for the answer. Closing a Yes/No box without a
// choice answers No; closing an OK box answers Ok.
MessageBoxAnswer showMessageBox(const EngineWindow* owner, std::u16string_view text, std::u16string_view caption,
                                MessageBoxIcon icon, MessageBoxButtons buttons = MessageBoxButtons::Ok);

// The same, owned by another dialog (null: a box that stands alone).
MessageBoxAnswer showMessageBoxOver(GtkWindow* parent, std::u16string_view text, std::u16string_view caption,
                                    MessageBoxIcon icon, MessageBoxButtons buttons = MessageBoxButtons::Ok);

// Test seam: while a hook is set, every box is handed to it instead of being
// shown; an empty answer means "the default button" (Ok, or No for Yes/No).
using MessageBoxHook = std::function<std::optional<MessageBoxAnswer>(const MessageBoxRequest&)>;
void setMessageBoxHook(MessageBoxHook hook);

// Test seam: while an observer is set, boxes are really shown; once a box
// has been drawn on the screen the observer is told what it shows, and the box
// is then answered with its default button.
struct ShownMessageBox {
    std::u16string caption;
    std::string iconName;       // the themed icon beside the text; empty for none
    bool darkTheme = false;     // the dark variant of the theme is in use
    double meanLuminance = -1;  // 0 (black) to 255 (white) over the box as drawn; -1 unknown
    GtkWindow* window = nullptr;
};
using MessageBoxObserver = std::function<void(const ShownMessageBox&)>;
void setMessageBoxObserver(MessageBoxObserver observer);

// The answer a box gives when nobody chooses: Ok, or No for Yes/No.
MessageBoxAnswer defaultAnswer(MessageBoxButtons buttons);

}  // namespace mendly

#include "message_box.h"

#include <gtk/gtk.h>

#include "engine_window.h"
#include "log/text.h"

namespace mendly {
namespace {

MessageBoxHook& hookSlot() {
    static MessageBoxHook hook;
    return hook;
}

GtkMessageType messageType(MessageBoxIcon icon) {
    switch (icon) {
        case MessageBoxIcon::None: return GTK_MESSAGE_OTHER;
        case MessageBoxIcon::Info: return GTK_MESSAGE_INFO;
        case MessageBoxIcon::Warning: return GTK_MESSAGE_WARNING;
        case MessageBoxIcon::Error: return GTK_MESSAGE_ERROR;
        case MessageBoxIcon::Question: return GTK_MESSAGE_QUESTION;
    }
    return GTK_MESSAGE_OTHER;
}

}  // namespace

MessageBoxAnswer defaultAnswer(MessageBoxButtons buttons) {
    return buttons == MessageBoxButtons::YesNo ? MessageBoxAnswer::No : MessageBoxAnswer::Ok;
}

void setMessageBoxHook(MessageBoxHook hook) { hookSlot() = std::move(hook); }

MessageBoxAnswer showMessageBox(const EngineWindow* owner, std::u16string_view text, std::u16string_view caption,
                                MessageBoxIcon icon, MessageBoxButtons buttons) {
    return showMessageBoxOver(owner != nullptr ? owner->nativeWindow() : nullptr, text, caption, icon, buttons);
}

MessageBoxAnswer showMessageBoxOver(GtkWindow* parent, std::u16string_view text, std::u16string_view caption,
                                    MessageBoxIcon icon, MessageBoxButtons buttons) {
    if (const MessageBoxHook& hook = hookSlot()) {
        const MessageBoxRequest request{parent != nullptr, std::u16string(text), std::u16string(caption), icon, buttons};
        return hook(request).value_or(defaultAnswer(buttons));
    }

    const std::string body = toUtf8(text);
    GtkWidget* dialog = gtk_message_dialog_new(parent, parent ? GTK_DIALOG_MODAL : GtkDialogFlags{},
                                               messageType(icon),
                                               buttons == MessageBoxButtons::YesNo ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK,
                                               "%s", body.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), toUtf8(caption).c_str());
    if (parent == nullptr) gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    // The default button takes Enter and starts with the focus, so Enter or
    // Space alone never answers Yes.
    const gint defaultResponse = buttons == MessageBoxButtons::YesNo ? GTK_RESPONSE_NO : GTK_RESPONSE_OK;
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), defaultResponse);
    if (GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), defaultResponse))
        gtk_widget_grab_focus(button);
    const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);

    if (buttons == MessageBoxButtons::YesNo) return response == GTK_RESPONSE_YES ? MessageBoxAnswer::Yes : MessageBoxAnswer::No;
    return MessageBoxAnswer::Ok;
}

}  // namespace mendly

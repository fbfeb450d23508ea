#include "message_box.h"

#include <gtk/gtk.h>

#include <array>

#include "engine_window.h"
#include "log/text.h"
#include "window_capture.h"

namespace mendly {
namespace {

MessageBoxHook& hookSlot() {
    static MessageBoxHook hook;
    return hook;
}

MessageBoxObserver& observerSlot() {
    static MessageBoxObserver observer;
    return observer;
}

struct BoxKind {
    GtkMessageType type;
    const char* iconName;  // nullptr: no icon
};

constexpr std::array<BoxKind, 5> kBoxKinds = {{
    {GTK_MESSAGE_OTHER, nullptr},                      // None
    {GTK_MESSAGE_INFO, "dialog-information"},          // Info
    {GTK_MESSAGE_WARNING, "dialog-warning"},           // Warning
    {GTK_MESSAGE_ERROR, "dialog-error"},               // Error
    {GTK_MESSAGE_QUESTION, "dialog-question"},         // Question
}};

const BoxKind& boxKind(MessageBoxIcon icon) { return kBoxKinds.at(static_cast<std::size_t>(icon)); }

// GtkMessageDialog no longer draws an icon of its own: the kind's icon goes
// in front of the text, in the row that holds the text.
GtkWidget* addKindIcon(GtkWidget* dialog, const char* iconName) {
    if (iconName == nullptr) return nullptr;
    GtkWidget* text = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog));
    GtkWidget* row = gtk_widget_get_parent(text);
    if (row == nullptr || !GTK_IS_BOX(row)) return nullptr;
    GtkWidget* image = gtk_image_new_from_icon_name(iconName, GTK_ICON_SIZE_DIALOG);
    gtk_widget_set_name(image, "message-box-icon");
    gtk_widget_set_valign(image, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(row), image, 0);
    gtk_widget_show(image);
    return image;
}

struct Observed {
    GtkWidget* dialog;
    GtkWidget* image;  // the kind's icon, or null
    std::u16string caption;
    gint defaultResponse;
    gulong drawHandler = 0;
    guint report = 0;  // the pending report, 0 when none
};

// After the box's first frame: report it, then answer it.
gboolean reportShown(gpointer data) {
    auto* observed = static_cast<Observed*>(data);
    observed->report = 0;
    ShownMessageBox shown{observed->caption, "", false, -1, GTK_WINDOW(observed->dialog)};
    if (observed->image != nullptr && gtk_widget_get_mapped(observed->image)) {
        const gchar* name = nullptr;
        gtk_image_get_icon_name(GTK_IMAGE(observed->image), &name, nullptr);
        if (name != nullptr) shown.iconName = name;
    }
    gboolean dark = FALSE;
    g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &dark, nullptr);
    shown.darkTheme = dark != FALSE;
    shown.meanLuminance = windowMeanLuminance(GTK_WINDOW(observed->dialog)).value_or(-1);
    observerSlot()(shown);
    gtk_dialog_response(GTK_DIALOG(observed->dialog), observed->defaultResponse);
    return G_SOURCE_REMOVE;
}

gboolean onFirstDraw(GtkWidget* dialog, cairo_t*, gpointer data) {
    auto* observed = static_cast<Observed*>(data);
    g_signal_handler_disconnect(dialog, observed->drawHandler);
    // Low priority: after the frame has been put on the screen.
    observed->report = g_idle_add_full(G_PRIORITY_LOW, &reportShown, observed, nullptr);
    return FALSE;
}

GtkButtonsType gtkButtons(MessageBoxButtons buttons) {
    switch (buttons) {
        case MessageBoxButtons::Ok: return GTK_BUTTONS_OK;
        case MessageBoxButtons::YesNo: return GTK_BUTTONS_YES_NO;
        case MessageBoxButtons::Close: return GTK_BUTTONS_CLOSE;
    }
    return GTK_BUTTONS_OK;
}

}  // namespace

MessageBoxAnswer defaultAnswer(MessageBoxButtons buttons) {
    return buttons == MessageBoxButtons::YesNo ? MessageBoxAnswer::No : MessageBoxAnswer::Ok;
}

void setMessageBoxHook(MessageBoxHook hook) { hookSlot() = std::move(hook); }

void setMessageBoxObserver(MessageBoxObserver observer) { observerSlot() = std::move(observer); }

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

    const BoxKind& kind = boxKind(icon);
    const std::string body = toUtf8(text);
    GtkWidget* dialog = gtk_message_dialog_new(parent, parent ? GTK_DIALOG_MODAL : GtkDialogFlags{}, kind.type,
                                               gtkButtons(buttons),
                                               "%s", body.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), toUtf8(caption).c_str());
    if (parent == nullptr) gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    GtkWidget* image = addKindIcon(dialog, kind.iconName);
    // The default button takes Enter and starts with the focus, so Enter or
    // Space alone never answers Yes.
    const gint defaultResponse = buttons == MessageBoxButtons::YesNo   ? GTK_RESPONSE_NO
                                 : buttons == MessageBoxButtons::Close ? GTK_RESPONSE_CLOSE
                                                                       : GTK_RESPONSE_OK;
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), defaultResponse);
    if (GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), defaultResponse))
        gtk_widget_grab_focus(button);
    Observed observed{dialog, image, std::u16string(caption), defaultResponse};
    if (observerSlot())
        observed.drawHandler = g_signal_connect_after(dialog, "draw", G_CALLBACK(&onFirstDraw), &observed);
    const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
    if (observed.report != 0) g_source_remove(observed.report);
    gtk_widget_destroy(dialog);

    if (buttons == MessageBoxButtons::YesNo) return response == GTK_RESPONSE_YES ? MessageBoxAnswer::Yes : MessageBoxAnswer::No;
    return MessageBoxAnswer::Ok;
}

}  // namespace mendly

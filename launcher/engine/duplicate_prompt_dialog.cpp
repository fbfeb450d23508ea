#include "duplicate_prompt_dialog.h"

#include <gtk/gtk.h>

#include "engine_window.h"
#include "log/text.h"
#include "message_box.h"

namespace mendly {
namespace {

DuplicatePromptDriver& driverSlot() {
    static DuplicatePromptDriver driver;
    return driver;
}

MessageBoxIcon boxIcon(NoticeIcon icon) {
    return icon == NoticeIcon::Information ? MessageBoxIcon::Info
           : icon == NoticeIcon::Warning   ? MessageBoxIcon::Warning
                                           : MessageBoxIcon::Error;
}

GtkWidget* addField(GtkGrid* grid, int row, const char* label, const std::string& text, std::size_t maxUnits) {
    GtkWidget* caption = gtk_label_new(label);
    gtk_widget_set_halign(caption, GTK_ALIGN_START);
    gtk_grid_attach(grid, caption, 0, row, 1, 1);
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_max_length(GTK_ENTRY(entry), static_cast<gint>(maxUnits));
    gtk_entry_set_text(GTK_ENTRY(entry), text.c_str());
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_widget_set_hexpand(entry, TRUE);
    gtk_grid_attach(grid, entry, 1, row, 1, 1);
    return entry;
}

struct PromptWidgets {
    GtkWidget* dialog;
    GtkWidget* name;
    GtkWidget* description;
    int attempt;
    guint driverSource;  // the pending driver turn, 0 when none
};

// The test driver's turn: type its texts and press OK, or press Cancel.
gboolean driveOnce(gpointer data) {
    auto* widgets = static_cast<PromptWidgets*>(data);
    widgets->driverSource = 0;
    const auto typed = driverSlot()(widgets->attempt, gtk_entry_get_text(GTK_ENTRY(widgets->name)),
                                    gtk_entry_get_text(GTK_ENTRY(widgets->description)));
    if (!typed) {
        gtk_dialog_response(GTK_DIALOG(widgets->dialog), GTK_RESPONSE_CANCEL);
        return G_SOURCE_REMOVE;
    }
    gtk_entry_set_text(GTK_ENTRY(widgets->name), typed->c_str());
    // The same path as the user's Enter key: the default button.
    gtk_window_activate_default(GTK_WINDOW(widgets->dialog));
    return G_SOURCE_REMOVE;
}

}  // namespace

void setDuplicatePromptDriver(DuplicatePromptDriver driver) { driverSlot() = std::move(driver); }

DuplicatePromptResult promptDuplicate(const EngineWindow* owner, const std::string& defaultName,
                                      const std::string& defaultDescription, const ServerCatalog& catalog) {
    GtkWindow* parent = owner != nullptr ? owner->nativeWindow() : nullptr;
    GtkWidget* dialog = gtk_dialog_new_with_buttons("Duplicate Installation", parent,
                                                    static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), "OK",
                                                    GTK_RESPONSE_OK, "Cancel", GTK_RESPONSE_CANCEL, nullptr);
    gtk_window_set_default_size(GTK_WINDOW(dialog), 400, 170);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_window_set_position(GTK_WINDOW(dialog), parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 12);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 14);
    gtk_container_set_border_width(GTK_CONTAINER(grid), 16);
    PromptWidgets widgets{dialog, nullptr, nullptr, 0, 0};
    widgets.name = addField(GTK_GRID(grid), 0, "Name:", defaultName, kDuplicateNameMaxUnits);
    widgets.description =
        addField(GTK_GRID(grid), 1, "Description:", defaultDescription, kDuplicateDescriptionMaxUnits);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), grid, TRUE, TRUE, 0);
    gtk_widget_show_all(dialog);

    DuplicatePromptResult result;
    for (;; ++widgets.attempt) {
        if (driverSlot()) widgets.driverSource = g_timeout_add(200, &driveOnce, &widgets);
        const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
        if (widgets.driverSource != 0) g_clear_handle_id(&widgets.driverSource, g_source_remove);
        if (response != GTK_RESPONSE_OK) break;  // Cancel, Escape, the close button
        const DuplicatePromptCheck check =
            checkDuplicatePromptInput(gtk_entry_get_text(GTK_ENTRY(widgets.name)),
                                      gtk_entry_get_text(GTK_ENTRY(widgets.description)), catalog);
        if (check.refusal) {
            (void)showMessageBoxOver(GTK_WINDOW(dialog), check.refusal->text, check.refusal->caption,
                                     boxIcon(check.refusal->icon));
            continue;
        }
        result = check.result;
        break;
    }
    gtk_widget_destroy(dialog);
    if (parent != nullptr) gtk_window_present(parent);
    return result;
}

}  // namespace mendly

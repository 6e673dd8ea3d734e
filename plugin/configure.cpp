// The configuration window: the five settings, each change applied to the
// running engines and saved at once. There are no OK or Cancel buttons; the
// window is closed with the window manager.
#include <gtk/gtk.h>

#include "kesta_xmms.h"

GtkWidget* configure_win = nullptr;
GtkWidget* configure_hbox = nullptr;
GtkWidget* configure_lvbox = nullptr;
GtkWidget* m2s_frame = nullptr;
GtkWidget* m2s_vbox = nullptr;
GtkWidget* m2s_mode_music = nullptr;
GtkWidget* m2s_mode_voice = nullptr;
GtkWidget* m2s_enable = nullptr;
GtkWidget* subtone = nullptr;
GtkWidget* vastor_frame = nullptr;
GtkWidget* vastor_vbox = nullptr;
GtkAdjustment* vastor_scrollbar_adj = nullptr;
GtkWidget* vastor_scrollbar = nullptr;
GtkWidget* vastor_enable = nullptr;

namespace {

bool isActive(GtkWidget* button) {
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button));
}

// The spread scrollbar's value v runs from -20 (top, 0 dB) to -2 (bottom, -18 dB).
constexpr double kAdjustmentLower = -20.0;

// Scrollbars draw no arrows in today's themes; these keep the stepper arrows
// that move the spread by 2 dB a click.
void showSteppers(GtkWidget* scrollbar) {
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css,
                                    "scrollbar { -GtkScrollbar-has-backward-stepper: true;"
                                    " -GtkScrollbar-has-forward-stepper: true; }",
                                    -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(scrollbar), GTK_STYLE_PROVIDER(css),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

}  // namespace

extern "C" {

void m2s_enable_cb(GtkWidget* widget, gpointer) {
    kesta_set_m2s_enabled(isActive(widget));
    save_config();
}

// Connected to both radio buttons, with the mode as data. A radio button that
// is being switched off says "clicked" too: only the one switched on counts.
void m2s_mode_cb(GtkWidget* widget, gpointer data) {
    if (!isActive(widget)) return;
    kesta_set_m2s_mode(GPOINTER_TO_INT(data));
    save_config();
}

void vastor_enable_cb(GtkWidget* widget, gpointer) {
    kesta_set_vastor_enabled(isActive(widget));
    save_config();
}

void vastor_scrollbar_cb(GtkAdjustment* adjustment, gpointer) {
    kesta_set_spread(static_cast<float>(kAdjustmentLower - gtk_adjustment_get_value(adjustment)));
    save_config();
}

void subtone_cb(GtkWidget* widget, gpointer) {
    kesta_set_subtone(isActive(widget));
    save_config();
}

// Builds and shows the window, or does nothing while it is open. Building it
// changes no setting and writes nothing: each widget's state is set before
// its handler is connected.
void kesta_configure(void) {
    if (configure_win) return;

    KestaConfig cfg;
    {
        std::lock_guard<std::mutex> lock(engine_mutex);
        cfg = kesta_cfg;
    }

    configure_win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_type_hint(GTK_WINDOW(configure_win), GDK_WINDOW_TYPE_HINT_DIALOG);
    g_signal_connect(configure_win, "destroy", G_CALLBACK(gtk_widget_destroyed), &configure_win);
    gtk_window_set_title(GTK_WINDOW(configure_win), "Orvane Kesta for XMMS");
    gtk_window_set_resizable(GTK_WINDOW(configure_win), FALSE);
    gtk_window_set_position(GTK_WINDOW(configure_win), GTK_WIN_POS_MOUSE);
    gtk_container_set_border_width(GTK_CONTAINER(configure_win), 5);

    configure_hbox = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
    gtk_box_set_homogeneous(GTK_BOX(configure_hbox), TRUE);
    gtk_container_add(GTK_CONTAINER(configure_win), configure_hbox);

    configure_lvbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
    gtk_box_pack_start(GTK_BOX(configure_hbox), configure_lvbox, FALSE, FALSE, 0);

    m2s_frame = gtk_frame_new("Mono to 3D:");
    gtk_box_pack_start(GTK_BOX(configure_lvbox), m2s_frame, TRUE, TRUE, 0);
    m2s_vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
    gtk_container_set_border_width(GTK_CONTAINER(m2s_vbox), 5);
    gtk_container_add(GTK_CONTAINER(m2s_frame), m2s_vbox);

    m2s_mode_music = gtk_radio_button_new_with_label(nullptr, "Music");
    if (cfg.m2s_mode == kMusicMode) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(m2s_mode_music), TRUE);
    g_signal_connect(m2s_mode_music, "clicked", G_CALLBACK(m2s_mode_cb), GINT_TO_POINTER(kMusicMode));
    gtk_box_pack_start(GTK_BOX(m2s_vbox), m2s_mode_music, FALSE, FALSE, 0);
    gtk_widget_show(m2s_mode_music);

    m2s_mode_voice = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(m2s_mode_music), "Voice");
    if (cfg.m2s_mode == kVoiceMode) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(m2s_mode_voice), TRUE);
    g_signal_connect(m2s_mode_voice, "clicked", G_CALLBACK(m2s_mode_cb), GINT_TO_POINTER(kVoiceMode));
    gtk_box_pack_start(GTK_BOX(m2s_vbox), m2s_mode_voice, FALSE, FALSE, 0);
    gtk_widget_show(m2s_mode_voice);

    m2s_enable = gtk_toggle_button_new_with_label("Enable");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(m2s_enable), cfg.m2s_enabled);
    g_signal_connect(m2s_enable, "clicked", G_CALLBACK(m2s_enable_cb), nullptr);
    gtk_box_pack_end(GTK_BOX(m2s_vbox), m2s_enable, FALSE, FALSE, 0);
    gtk_widget_show(m2s_enable);
    gtk_widget_show(m2s_vbox);
    gtk_widget_show(m2s_frame);

    subtone = gtk_check_button_new_with_label("Enable Subtone");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(subtone), cfg.subtone_enabled);
    g_signal_connect(subtone, "clicked", G_CALLBACK(subtone_cb), nullptr);
    gtk_box_pack_start(GTK_BOX(configure_lvbox), subtone, FALSE, FALSE, 0);
    gtk_widget_show(subtone);
    gtk_widget_show(configure_lvbox);

    vastor_frame = gtk_frame_new("Stereo to 3D:");
    gtk_box_pack_start(GTK_BOX(configure_hbox), vastor_frame, TRUE, TRUE, 0);
    vastor_vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 5);
    gtk_container_set_border_width(GTK_CONTAINER(vastor_vbox), 5);
    gtk_container_add(GTK_CONTAINER(vastor_frame), vastor_vbox);

    vastor_scrollbar_adj =
        gtk_adjustment_new(kAdjustmentLower - cfg.spread_db, kAdjustmentLower, 0.0, 2.0, 2.0, 2.0);
    g_signal_connect(vastor_scrollbar_adj, "value_changed", G_CALLBACK(vastor_scrollbar_cb), nullptr);

    vastor_scrollbar = gtk_scrollbar_new(GTK_ORIENTATION_VERTICAL, vastor_scrollbar_adj);
    showSteppers(vastor_scrollbar);
    gtk_widget_set_size_request(vastor_scrollbar, -1, 60);
    gtk_box_pack_start(GTK_BOX(vastor_vbox), vastor_scrollbar, TRUE, TRUE, 0);
    gtk_widget_show(vastor_scrollbar);

    vastor_enable = gtk_toggle_button_new_with_label("Enable");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(vastor_enable), cfg.vastor_enabled);
    gtk_box_pack_end(GTK_BOX(vastor_vbox), vastor_enable, FALSE, FALSE, 0);
    g_signal_connect(vastor_enable, "clicked", G_CALLBACK(vastor_enable_cb), nullptr);
    gtk_widget_show(vastor_enable);

    gtk_widget_show(vastor_vbox);
    gtk_widget_show(vastor_frame);
    gtk_widget_show(configure_hbox);
    gtk_widget_show(configure_win);
}

}  // extern "C"

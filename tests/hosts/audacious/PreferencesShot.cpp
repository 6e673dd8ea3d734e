// Opens the plug-in's settings window exactly as Audacious's GTK interface
// does (libaudgui's plug-in preferences) and saves it as a PNG. Run under a
// virtual X server from a copy beside a private Audacious installation, so
// that the player's library finds the plug-ins relative to it.
//
//   kesta-preferences-shot OUT.png
#include <gtk/gtk.h>
#include <libaudcore/plugins.h>
#include <libaudcore/runtime.h>
#include <libaudgui/libaudgui-gtk.h>
#include <libaudgui/libaudgui.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
        return 2;
    }
    gtk_init(&argc, &argv);
    aud_set_headless_mode(true);
    aud_set_mainloop_type(MainloopType::GLib);
    aud_init();
    audgui_init();

    int status = 1;
    PluginHandle* plugin = aud_plugin_lookup_basename("libkesta_audacious");
    if (!plugin) {
        std::fprintf(stderr, "the plug-in is not registered\n");
    } else {
        audgui_show_plugin_prefs(plugin);
        // Let the window map and draw.
        for (int i = 0; i < 100; ++i) {
            while (gtk_events_pending()) gtk_main_iteration();
            g_usleep(10000);
        }
        GtkWidget* shown = nullptr;
        GList* windows = gtk_window_list_toplevels();
        for (GList* w = windows; w; w = w->next) {
            const char* title = gtk_window_get_title(GTK_WINDOW(w->data));
            if (gtk_widget_get_visible(GTK_WIDGET(w->data)) && title &&
                std::strstr(title, aud_plugin_get_name(plugin)))
                shown = GTK_WIDGET(w->data);
        }
        g_list_free(windows);
        if (!shown) {
            std::fprintf(stderr, "no settings window was shown\n");
        } else {
            GdkWindow* window = gtk_widget_get_window(shown);
            int width = 0, height = 0;
            gdk_drawable_get_size(window, &width, &height);
            GdkPixbuf* image =
                gdk_pixbuf_get_from_drawable(nullptr, window, nullptr, 0, 0, 0, 0, width, height);
            if (image && gdk_pixbuf_save(image, argv[1], "png", nullptr, nullptr)) {
                std::printf("%s: %dx%d\n", gtk_window_get_title(GTK_WINDOW(shown)), width, height);
                status = 0;
            }
            if (image) g_object_unref(image);
        }
    }
    audgui_cleanup();
    aud_cleanup();
    return status;
}

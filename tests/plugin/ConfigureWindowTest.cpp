// The configuration window under a virtual X server: each control changes
// the settings record, the running engines and the file; building the window
// changes nothing. A screenshot of the window is saved for review.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "M2s.h"
#include "Vastor.h"
#include "kesta_xmms.h"

extern GtkWidget* configure_win;
extern GtkWidget* m2s_mode_music;
extern GtkWidget* m2s_mode_voice;
extern GtkWidget* m2s_enable;
extern GtkWidget* subtone;
extern GtkAdjustment* vastor_scrollbar_adj;
extern GtkWidget* vastor_scrollbar;
extern GtkWidget* vastor_enable;

namespace {

std::string home;

std::string settingsPath() {
    return home + "/.xmms/config";
}

std::string settingsText() {
    std::ifstream in(settingsPath());
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeSettings(const std::string& text) {
    ASSERT_EQ(std::system(("mkdir -p '" + home + "/.xmms'").c_str()), 0);
    std::ofstream(settingsPath()) << text;
}

void drainEvents() {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

void closeWindow() {
    if (configure_win) gtk_widget_destroy(configure_win);
    drainEvents();
}

bool active(GtkWidget* w) {
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w));
}

std::vector<short> signal(size_t samples, double w) {
    std::vector<short> v(samples);
    for (size_t i = 0; i < samples; ++i)
        v[i] = static_cast<short>(9000 * std::sin(w * i) + 3000 * std::sin(7.3 * w * i));
    return v;
}

std::vector<short> pluginMono(std::vector<short> in, int rate) {
    gpointer data = in.data();
    const gint bytes = kesta_mod_samples(&data, static_cast<gint>(in.size() * 2), FMT_S16_NE, rate, 1);
    const short* out = static_cast<const short*>(data);
    return std::vector<short>(out, out + bytes / 2);
}

std::vector<short> pluginStereo(std::vector<short> in, int rate) {
    gpointer data = in.data();
    const gint bytes = kesta_mod_samples(&data, static_cast<gint>(in.size() * 2), FMT_S16_NE, rate, 2);
    const short* out = static_cast<const short*>(data);
    return std::vector<short>(out, out + bytes / 2);
}

// A block at another rate, so that the next blocks at 44100 Hz meet fresh engines.
void freshEngines() {
    pluginMono(std::vector<short>(8), 8000);
    pluginStereo(std::vector<short>(8), 8000);
}

class ConfigureWindow : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/kesta-window-XXXXXX";
        home = mkdtemp(tmpl);
        setenv("HOME", home.c_str(), 1);
        setenv("NO_AT_BRIDGE", "1", 1);  // no accessibility bus under the virtual X server
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display";
    }
    static void TearDownTestSuite() { (void)std::system(("rm -rf '" + home + "'").c_str()); }
    void SetUp() override {
        closeWindow();
        std::remove(settingsPath().c_str());
        kesta_init();
    }
    void TearDown() override { closeWindow(); }
};

TEST_F(ConfigureWindow, opensOnceAndAgainAfterClosingWithTheCurrentSettings) {
    kesta_configure();
    GtkWidget* first = configure_win;
    ASSERT_NE(first, nullptr);
    kesta_configure();
    EXPECT_EQ(configure_win, first);
    EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(configure_win)));
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(configure_win)), "Orvane Kesta for XMMS");
    EXPECT_EQ(gtk_window_get_type_hint(GTK_WINDOW(configure_win)), GDK_WINDOW_TYPE_HINT_DIALOG);

    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(vastor_enable), FALSE);
    closeWindow();
    EXPECT_EQ(configure_win, nullptr);
    kesta_configure();
    ASSERT_NE(configure_win, nullptr);
    EXPECT_FALSE(active(vastor_enable));
}

TEST_F(ConfigureWindow, buildingTheWindowChangesNoSettingAndWritesNothing) {
    writeSettings("[Kesta]\nm2s_flags=0\nm2s_enable=FALSE\nvastor_spread=-6\nsubtone=FALSE\n");
    const std::string before = settingsText();
    kesta_init();
    const KestaConfig cfg = kesta_cfg;
    kesta_configure();
    drainEvents();
    EXPECT_EQ(settingsText(), before);
    EXPECT_EQ(kesta_cfg.m2s_mode, kVoiceMode);
    EXPECT_EQ(std::memcmp(&kesta_cfg, &cfg, sizeof cfg), 0);
    EXPECT_TRUE(active(m2s_mode_voice));
    EXPECT_FALSE(active(m2s_mode_music));
    EXPECT_FALSE(active(m2s_enable));
    EXPECT_TRUE(active(vastor_enable));
    EXPECT_FALSE(active(subtone));
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_value(vastor_scrollbar_adj), -14.0);  // a stored -6 dB
}

TEST_F(ConfigureWindow, theSpreadScrollbarStepsTwoDecibelsFromTheTop) {
    kesta_configure();
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_value(vastor_scrollbar_adj), -20.0);
    gboolean handled = FALSE;
    g_signal_emit_by_name(vastor_scrollbar, "move-slider", GTK_SCROLL_STEP_FORWARD, &handled);
    EXPECT_FLOAT_EQ(kesta_cfg.spread_db, -2.0f);
    EXPECT_NE(settingsText().find("vastor_spread=-2\n"), std::string::npos) << settingsText();

    gtk_adjustment_set_value(vastor_scrollbar_adj, 0.0);  // clamped to upper - page size
    EXPECT_FLOAT_EQ(kesta_cfg.spread_db, -18.0f);
    EXPECT_NE(settingsText().find("vastor_spread=-18\n"), std::string::npos);
}

TEST_F(ConfigureWindow, voiceIsStoredAndReCreatesOnlyTheMonoEngine) {
    const auto mono = signal(600, 0.05), stereo = signal(1200, 0.03);
    freshEngines();
    pluginMono(mono, 44100);
    const auto stereoBefore = pluginStereo(stereo, 44100);
    kesta_configure();
    gtk_button_clicked(GTK_BUTTON(m2s_mode_voice));
    EXPECT_EQ(kesta_cfg.m2s_mode, kVoiceMode);
    EXPECT_NE(settingsText().find("m2s_flags=0\n"), std::string::npos);

    // The mono engine starts afresh in Voice mode.
    M2S* fresh = nullptr;
    m2sOpen(&fresh, 44100, 0);
    m2sEnable(fresh, 1);
    m2sEnableHipass(fresh, 1);
    std::vector<short> expected(mono.size() * 2);
    m2sProcess16(fresh, mono.data(), reinterpret_cast<short(*)[2]>(expected.data()), mono.size());
    m2sClose(fresh);
    EXPECT_EQ(pluginMono(mono, 44100), expected);

    // The widener goes on with its state: as one engine fed both blocks.
    Vastor* v = nullptr;
    vastorOpen(&v, 44100, 0x40000000u);
    vastorEnable(v, 1);
    vastorSetSpread(v, 0.0f);
    vastorEnableHipass(v, 1);
    std::vector<short> out(stereo.size());
    vastorProcess16(v, reinterpret_cast<const short(*)[2]>(stereo.data()),
                    reinterpret_cast<short(*)[2]>(out.data()), stereo.size() / 2);
    EXPECT_EQ(out, stereoBefore);
    vastorProcess16(v, reinterpret_cast<const short(*)[2]>(stereo.data()),
                    reinterpret_cast<short(*)[2]>(out.data()), stereo.size() / 2);
    vastorClose(v);
    EXPECT_EQ(pluginStereo(stereo, 44100), out);

    gtk_button_clicked(GTK_BUTTON(m2s_mode_music));
    EXPECT_EQ(kesta_cfg.m2s_mode, kMusicMode);
    EXPECT_NE(settingsText().find("m2s_flags=8\n"), std::string::npos);
}

TEST_F(ConfigureWindow, enableAndSubtoneSwitchesReachRecordFileAndRunningEngines) {
    const auto mono = signal(800, 0.04), stereo = signal(1600, 0.02);
    freshEngines();
    const auto monoFirst = pluginMono(mono, 44100);
    const auto stereoFirst = pluginStereo(stereo, 44100);
    kesta_configure();

    gtk_button_clicked(GTK_BUTTON(m2s_enable));
    EXPECT_EQ(kesta_cfg.m2s_enabled, 0);
    EXPECT_NE(settingsText().find("m2s_enable=FALSE\n"), std::string::npos);
    gtk_button_clicked(GTK_BUTTON(vastor_enable));
    EXPECT_EQ(kesta_cfg.vastor_enabled, 0);
    EXPECT_NE(settingsText().find("vastor_enable=FALSE\n"), std::string::npos);
    gtk_button_clicked(GTK_BUTTON(subtone));
    EXPECT_EQ(kesta_cfg.subtone_enabled, 0);
    EXPECT_NE(settingsText().find("subtone=FALSE\n"), std::string::npos);

    // The same switches, made on engines of our own between the same blocks.
    M2S* m = nullptr;
    m2sOpen(&m, 44100, 8);
    m2sEnable(m, 1);
    m2sEnableHipass(m, 1);
    std::vector<short> mout(mono.size() * 2);
    m2sProcess16(m, mono.data(), reinterpret_cast<short(*)[2]>(mout.data()), mono.size());
    EXPECT_EQ(mout, monoFirst);
    m2sEnable(m, 0);
    m2sEnableHipass(m, 0);
    m2sProcess16(m, mono.data(), reinterpret_cast<short(*)[2]>(mout.data()), mono.size());
    m2sClose(m);
    EXPECT_EQ(pluginMono(mono, 44100), mout);

    Vastor* v = nullptr;
    vastorOpen(&v, 44100, 0x40000000u);
    vastorEnable(v, 1);
    vastorSetSpread(v, 0.0f);
    vastorEnableHipass(v, 1);
    std::vector<short> vout(stereo.size());
    vastorProcess16(v, reinterpret_cast<const short(*)[2]>(stereo.data()),
                    reinterpret_cast<short(*)[2]>(vout.data()), stereo.size() / 2);
    EXPECT_EQ(vout, stereoFirst);
    vastorEnable(v, 0);
    vastorEnableHipass(v, 0);
    vastorProcess16(v, reinterpret_cast<const short(*)[2]>(stereo.data()),
                    reinterpret_cast<short(*)[2]>(vout.data()), stereo.size() / 2);
    vastorClose(v);
    EXPECT_EQ(pluginStereo(stereo, 44100), vout);
}

TEST_F(ConfigureWindow, aScreenshotIsSavedForReview) {
    kesta_configure();
    for (int i = 0; i < 50; ++i) {
        drainEvents();
        g_usleep(10000);
    }
    GdkWindow* window = gtk_widget_get_window(configure_win);
    ASSERT_NE(window, nullptr);
    const int width = gdk_window_get_width(window), height = gdk_window_get_height(window);
    EXPECT_GE(height, 60);
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(window, 0, 0, width, height);
    ASSERT_NE(shot, nullptr);
    EXPECT_TRUE(gdk_pixbuf_save(shot, "kesta-configure.png", "png", nullptr, nullptr));
    g_object_unref(shot);
}

}  // namespace

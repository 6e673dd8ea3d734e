#include <gtest/gtest.h>

#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "configfile.h"

namespace {

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = g_dir_make_tmp("kesta-cfg-XXXXXX", nullptr);
        ASSERT_NE(dir_, nullptr);
        path_ = std::string(dir_) + "/.xmms/config";
    }
    void TearDown() override {
        std::string cmd = std::string("rm -rf '") + dir_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        g_free(dir_);
    }
    void writeText(const std::string& text) {
        g_mkdir_with_parents((std::string(dir_) + "/.xmms").c_str(), 0755);
        std::ofstream(path_) << text;
    }
    std::string readText() {
        std::ifstream in(path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    gchar* dir_ = nullptr;
    std::string path_;
};

TEST_F(ConfigFileTest, valuesWrittenReadBackWithTheirTypes) {
    ConfigFile* cfg = xmms_cfg_new();
    xmms_cfg_write_boolean(cfg, "Kesta", "m2s_enable", FALSE);
    xmms_cfg_write_int(cfg, "Kesta", "m2s_flags", -12345);
    xmms_cfg_write_float(cfg, "Kesta", "vastor_spread", -7.3456789f);
    xmms_cfg_write_string(cfg, "Other", "name", "a = b");
    ASSERT_TRUE(xmms_cfg_write_file(cfg, path_.c_str()));  // creates ~/.xmms as well
    xmms_cfg_free(cfg);

    cfg = xmms_cfg_open_file(path_.c_str());
    ASSERT_NE(cfg, nullptr);
    gboolean b = TRUE;
    gint i = 0;
    gfloat f = 0;
    gchar* s = nullptr;
    EXPECT_TRUE(xmms_cfg_read_boolean(cfg, "Kesta", "m2s_enable", &b));
    EXPECT_FALSE(b);
    EXPECT_TRUE(xmms_cfg_read_int(cfg, "Kesta", "m2s_flags", &i));
    EXPECT_EQ(i, -12345);
    EXPECT_TRUE(xmms_cfg_read_float(cfg, "Kesta", "vastor_spread", &f));
    EXPECT_EQ(f, -7.3456789f);  // exact round trip
    EXPECT_TRUE(xmms_cfg_read_string(cfg, "Other", "name", &s));
    EXPECT_STREQ(s, "a = b");
    g_free(s);
    xmms_cfg_free(cfg);

    const std::string text = readText();
    EXPECT_NE(text.find("[Kesta]\nm2s_enable=FALSE\nm2s_flags=-12345\n"), std::string::npos) << text;
}

TEST_F(ConfigFileTest, writingKeepsEveryOtherSectionAndKey) {
    writeText("[xmms]\nplaylist_visible=TRUE\nvolume=80\n\n[Kesta]\nsubtone=TRUE\ncustom=keep me\n");
    ConfigFile* cfg = xmms_cfg_open_file(path_.c_str());
    ASSERT_NE(cfg, nullptr);
    xmms_cfg_write_boolean(cfg, "Kesta", "subtone", FALSE);
    xmms_cfg_write_float(cfg, "Kesta", "vastor_spread", -2.0f);
    ASSERT_TRUE(xmms_cfg_write_file(cfg, path_.c_str()));
    xmms_cfg_free(cfg);

    EXPECT_EQ(readText(),
              "[xmms]\nplaylist_visible=TRUE\nvolume=80\n\n"
              "[Kesta]\nsubtone=FALSE\ncustom=keep me\nvastor_spread=-2\n\n");
}

TEST_F(ConfigFileTest, missingKeysAndUnreadableValuesLeaveTheCallersValue) {
    writeText("stray line before any section\n[Kesta]\nm2s_flags=abc\nvastor_spread=nan\nsubtone=maybe\n"
              "m2s_enable=\n=orphan\nbig=99999999999\nhuge=1e300\n[broken\nlost=1\n");
    ConfigFile* cfg = xmms_cfg_open_file(path_.c_str());
    ASSERT_NE(cfg, nullptr);
    gint i = 7;
    gfloat f = 1.5f;
    gboolean b = TRUE;
    EXPECT_FALSE(xmms_cfg_read_int(cfg, "Kesta", "m2s_flags", &i));
    EXPECT_FALSE(xmms_cfg_read_int(cfg, "Kesta", "big", &i));
    EXPECT_FALSE(xmms_cfg_read_int(cfg, "Kesta", "absent", &i));
    EXPECT_FALSE(xmms_cfg_read_int(cfg, "Nowhere", "m2s_flags", &i));
    EXPECT_FALSE(xmms_cfg_read_int(cfg, "broken", "lost", &i));
    EXPECT_EQ(i, 7);
    EXPECT_FALSE(xmms_cfg_read_float(cfg, "Kesta", "vastor_spread", &f));
    EXPECT_FALSE(xmms_cfg_read_float(cfg, "Kesta", "huge", &f));
    EXPECT_EQ(f, 1.5f);
    EXPECT_FALSE(xmms_cfg_read_boolean(cfg, "Kesta", "subtone", &b));
    EXPECT_FALSE(xmms_cfg_read_boolean(cfg, "Kesta", "m2s_enable", &b));
    EXPECT_TRUE(b);
    xmms_cfg_free(cfg);
}

TEST_F(ConfigFileTest, binaryGarbageNeverCrashesAReader) {
    std::string garbage;
    unsigned seed = 12345;
    for (int k = 0; k < 20000; ++k) {
        seed = seed * 1103515245u + 12345u;
        const char c = static_cast<char>(seed >> 16);
        garbage += (k % 37 == 0) ? '\n' : (k % 53 == 0) ? '[' : (k % 41 == 0) ? '=' : c;
    }
    writeText(garbage);
    ConfigFile* cfg = xmms_cfg_open_file(path_.c_str());
    ASSERT_NE(cfg, nullptr);
    gint i = 0;
    xmms_cfg_read_int(cfg, "Kesta", "m2s_flags", &i);
    ASSERT_TRUE(xmms_cfg_write_file(cfg, path_.c_str()));
    xmms_cfg_free(cfg);
}

TEST_F(ConfigFileTest, aFailedWriteLeavesThePreviousFileIntact) {
    writeText("[Kesta]\nsubtone=TRUE\n");
    const std::string xmmsDir = std::string(dir_) + "/.xmms";
    ASSERT_EQ(chmod(xmmsDir.c_str(), 0555), 0);
    ConfigFile* cfg = xmms_cfg_new();
    xmms_cfg_write_boolean(cfg, "Kesta", "subtone", FALSE);
    const bool root = geteuid() == 0;  // root writes through the permission bits
    const gboolean written = xmms_cfg_write_file(cfg, path_.c_str());
    xmms_cfg_free(cfg);
    chmod(xmmsDir.c_str(), 0755);
    if (!root) {
        EXPECT_FALSE(written);
        EXPECT_EQ(readText(), "[Kesta]\nsubtone=TRUE\n");
    }
    EXPECT_EQ(xmms_cfg_open_file("/nonexistent/dir/config"), nullptr);
}

TEST_F(ConfigFileTest, aLinkedPrivateFileStaysLinkedAndPrivate) {
    const std::string real = std::string(dir_) + "/dotfiles-config";
    std::ofstream(real) << "[xmms]\nvolume=80\n";
    ASSERT_EQ(chmod(real.c_str(), 0600), 0);
    g_mkdir_with_parents((std::string(dir_) + "/.xmms").c_str(), 0755);
    ASSERT_EQ(symlink(real.c_str(), path_.c_str()), 0);

    ConfigFile* cfg = xmms_cfg_open_file(path_.c_str());
    ASSERT_NE(cfg, nullptr);
    xmms_cfg_write_int(cfg, "Kesta", "m2s_flags", 0);
    ASSERT_TRUE(xmms_cfg_write_file(cfg, path_.c_str()));
    xmms_cfg_free(cfg);

    struct stat st;
    ASSERT_EQ(lstat(path_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(readText(), "[xmms]\nvolume=80\n\n[Kesta]\nm2s_flags=0\n\n");
}

TEST_F(ConfigFileTest, numbersIgnoreTheUsersLocale) {
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    ConfigFile* cfg = xmms_cfg_new();
    xmms_cfg_write_float(cfg, "Kesta", "vastor_spread", -2.5f);
    ASSERT_TRUE(xmms_cfg_write_file(cfg, path_.c_str()));
    xmms_cfg_free(cfg);
    EXPECT_NE(readText().find("vastor_spread=-2.5\n"), std::string::npos);
    cfg = xmms_cfg_open_file(path_.c_str());
    gfloat f = 0;
    EXPECT_TRUE(xmms_cfg_read_float(cfg, "Kesta", "vastor_spread", &f));
    EXPECT_EQ(f, -2.5f);
    xmms_cfg_free(cfg);
    std::setlocale(LC_NUMERIC, "C");
}

}  // namespace

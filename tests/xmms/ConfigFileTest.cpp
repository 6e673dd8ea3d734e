#include <fcntl.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <cmath>
#include <csignal>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

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
        std::string cmd = std::string("chmod -R u+rwx '") + dir_ + "'; rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        g_free(dir_);
    }
    std::string in(const std::string& name) const { return std::string(dir_) + "/" + name; }
    void writeText(const std::string& text, const std::string& path = std::string()) {
        g_mkdir_with_parents((std::string(dir_) + "/.xmms").c_str(), 0755);
        std::ofstream(path.empty() ? path_ : path, std::ios::binary) << text;
    }
    std::string readText(const std::string& path = std::string()) {
        std::ifstream in(path.empty() ? path_ : path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Opens the file, applies edit, writes it back; answers the write's result.
    bool edit(const std::function<void(ConfigFile*)>& change, gint* error = nullptr) {
        gint openError = 0;
        ConfigFile* cfg = xmms_cfg_open_file_full(path_.c_str(), &openError);
        if (!cfg) cfg = xmms_cfg_new();
        change(cfg);
        const gboolean ok = xmms_cfg_write_file_full(cfg, path_.c_str(), error);
        xmms_cfg_free(cfg);
        return ok;
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

    EXPECT_EQ(
        readText(),
        "[Kesta]\nm2s_enable=FALSE\nm2s_flags=-12345\nvastor_spread=-7.345679\n\n[Other]\nname=a = b\n");
}

// Each case: the file as the user left it, what is written, and the file
// afterwards: only the lines of the keys set may change.
TEST_F(ConfigFileTest, aWriteChangesOnlyTheLinesOfTheKeysItSets) {
    struct Case {
        const char* name;
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {"comments, stray lines, spacing and a broken header are kept",
         "; made by hand\norphan=1\n[Kesta]\n  vastor_spread = 0  \nnot a pair\n\t# "
         "note\n[broken\nsubtone=TRUE\n",
         "; made by hand\norphan=1\n[Kesta]\n  vastor_spread = -2  \nsubtone=FALSE\nnot a pair\n\t# "
         "note\n[broken\n"
         "subtone=TRUE\n"},
        {"CRLF line ends stay CRLF, also on the lines added",
         "[xmms]\r\nvolume=80\r\n[Kesta]\r\nvastor_spread = 0\r\n",
         "[xmms]\r\nvolume=80\r\n[Kesta]\r\nvastor_spread = -2\r\nsubtone=FALSE\r\n"},
        {"the last of duplicate keys is the one read and written",
         "[Kesta]\nsubtone=TRUE\nvastor_spread=1\nsubtone=TRUE\n",
         "[Kesta]\nsubtone=TRUE\nvastor_spread=-2\nsubtone=FALSE\n"},
        {"a section given twice takes new keys after its last key",
         "[Kesta]\nvastor_spread=1\n[xmms]\nv=2\n[Kesta]\nother=3\n\n# end\n",
         "[Kesta]\nvastor_spread=-2\n[xmms]\nv=2\n[Kesta]\nother=3\nsubtone=FALSE\n\n# end\n"},
        {"a last line without a line end gets one before a new section", "[xmms]\nvolume=80",
         "[xmms]\nvolume=80\n\n[Kesta]\nvastor_spread=-2\nsubtone=FALSE\n"},
        {"an empty value is filled in where it stood", "[Kesta]\nvastor_spread=\nsubtone =  \n",
         "[Kesta]\nvastor_spread=-2\nsubtone =FALSE  \n"},
    };
    for (const Case& c : cases) {
        writeText(c.before);
        ASSERT_TRUE(edit([](ConfigFile* cfg) {
            xmms_cfg_write_float(cfg, "Kesta", "vastor_spread", -2.0f);
            xmms_cfg_write_boolean(cfg, "Kesta", "subtone", FALSE);
        })) << c.name;
        EXPECT_EQ(readText(), c.after) << c.name;
        // Writing the same values again changes nothing at all.
        ASSERT_TRUE(edit([](ConfigFile* cfg) { xmms_cfg_write_boolean(cfg, "Kesta", "subtone", FALSE); }));
        EXPECT_EQ(readText(), c.after) << c.name;
    }
}

TEST_F(ConfigFileTest, missingKeysAndUnreadableValuesLeaveTheCallersValue) {
    writeText(
        "stray=1\n[Kesta]\nm2s_flags=abc\nvastor_spread=nan\nsubtone=maybe\n"
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
    EXPECT_FALSE(xmms_cfg_read_int(cfg, "", "stray", &i));
    EXPECT_EQ(i, 7);
    EXPECT_FALSE(xmms_cfg_read_float(cfg, "Kesta", "vastor_spread", &f));
    EXPECT_FALSE(xmms_cfg_read_float(cfg, "Kesta", "huge", &f));
    EXPECT_EQ(f, 1.5f);
    EXPECT_FALSE(xmms_cfg_read_boolean(cfg, "Kesta", "subtone", &b));
    EXPECT_FALSE(xmms_cfg_read_boolean(cfg, "Kesta", "m2s_enable", &b));
    EXPECT_TRUE(b);
    xmms_cfg_free(cfg);
}

// A value, key or section that would read back as other lines is refused:
// the configuration, and the file written from it, stay as they were.
TEST_F(ConfigFileTest, writesThatWouldMakeOtherLinesAreRefused) {
    const std::string before = "[xmms]\ntitle=old\n";
    // section, key, value
    const char* const writes[][3] = {
        {"xmms", "title", "a\n[Kesta]\nm2s_flags=0"},
        {"xmms", "title", "a\r[Kesta]"},
        {"xmms", "m2s_flags=0\n[Kesta]\nx", "1"},
        {"xmms", "a=b", "1"},
        {"xmms", "[Kesta]", "1"},
        {"xmms", " title", "1"},
        {"xmms", "", "1"},
        {"Kesta]\nm2s_flags=0\n[x", "1"},
        {"a]b", "k", "1"},
        {"a\nb", "k", "1"},
    };
    for (const auto& w : writes) {
        writeText(before);
        ASSERT_TRUE(edit([&](ConfigFile* cfg) { xmms_cfg_write_string(cfg, w[0], w[1], w[2]); }));
        EXPECT_EQ(readText(), before) << w[0] << " / " << w[1] << " / " << w[2];
    }
    ConfigFile* cfg = xmms_cfg_open_file(path_.c_str());
    gint flags = 8;
    EXPECT_FALSE(xmms_cfg_read_int(cfg, "Kesta", "m2s_flags", &flags));
    gchar* title = nullptr;
    ASSERT_TRUE(xmms_cfg_read_string(cfg, "xmms", "title", &title));
    EXPECT_STREQ(title, "old");
    g_free(title);
    xmms_cfg_free(cfg);
}

// Only "nothing there" may be taken for "no settings yet"; everything else in
// the way is reported as unreadable, and nothing blocks or is read from a
// device. Root reads any file, so a child that drops to nobody tries the
// private file.
TEST_F(ConfigFileTest, openingTellsAMissingFileFromAnUnreadableOne) {
    g_mkdir_with_parents(in("folder").c_str(), 0755);
    ASSERT_EQ(mkfifo(in("fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink("/dev/zero", in("device").c_str()), 0);
    ASSERT_EQ(symlink(in("nowhere").c_str(), in("dangling").c_str()), 0);
    ASSERT_EQ(symlink(in("loop-b").c_str(), in("loop-a").c_str()), 0);
    ASSERT_EQ(symlink(in("loop-a").c_str(), in("loop-b").c_str()), 0);
    writeText("[x]\n", in("plain"));
    struct Case {
        std::string path;
        int error;
    };
    const Case cases[] = {
        {in("absent"), ENOENT},   {in("no/such/folder/config"), ENOENT},
        {in("dangling"), ENOENT}, {in("folder"), EISDIR},
        {in("fifo"), EINVAL},     {in("device"), EINVAL},
        {in("loop-a"), ELOOP},    {in("plain/config"), ENOTDIR},
        {in("plain"), 0},
    };
    for (const Case& c : cases) {
        gint error = -1;
        ConfigFile* cfg = xmms_cfg_open_file_full(c.path.c_str(), &error);
        EXPECT_EQ(error, c.error) << c.path;
        EXPECT_EQ(cfg != nullptr, c.error == 0) << c.path;
        xmms_cfg_free(cfg);
        cfg = xmms_cfg_open_file(c.path.c_str());
        EXPECT_EQ(cfg != nullptr, c.error == 0) << c.path;
        xmms_cfg_free(cfg);
    }

    writeText("[Kesta]\nsubtone=TRUE\n");
    ASSERT_EQ(chmod(path_.c_str(), 0600), 0);
    ASSERT_EQ(chmod(dir_, 0755), 0);
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(path_.c_str(), 0), 0);
        gint error = 0;
        EXPECT_EQ(xmms_cfg_open_file_full(path_.c_str(), &error), nullptr);
        EXPECT_EQ(error, EACCES);
        return;
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        gint error = 0;
        ConfigFile* cfg = xmms_cfg_open_file_full(path_.c_str(), &error);
        _exit(cfg == nullptr && error == EACCES ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a root-owned private file must read as EACCES for another user";
}

TEST_F(ConfigFileTest, aWriteKeepsTheFilesModeWhateverTheUmask) {
    const mode_t old = umask(022);
    for (mode_t mode : {0664, 0600, 0640}) {
        writeText("[xmms]\nvolume=80\n");
        ASSERT_EQ(chmod(path_.c_str(), mode), 0);
        ASSERT_TRUE(edit([](ConfigFile* cfg) { xmms_cfg_write_int(cfg, "Kesta", "m2s_flags", 0); }));
        struct stat st;
        ASSERT_EQ(stat(path_.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
    }
    // When root writes a user's file, it stays the user's.
    if (geteuid() == 0) {
        ASSERT_EQ(chown(path_.c_str(), 65534, 65534), 0);
        ASSERT_TRUE(edit([](ConfigFile* cfg) { xmms_cfg_write_int(cfg, "Kesta", "m2s_flags", 8); }));
        struct stat owned;
        ASSERT_EQ(stat(path_.c_str(), &owned), 0);
        EXPECT_EQ(owned.st_uid, 65534u);
        EXPECT_EQ(owned.st_gid, 65534u);
    }
    // A new file gets the usual mode under the umask.
    ASSERT_EQ(unlink(path_.c_str()), 0);
    ASSERT_TRUE(edit([](ConfigFile* cfg) { xmms_cfg_write_int(cfg, "Kesta", "m2s_flags", 0); }));
    struct stat st;
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    umask(old);
}

// Links: a hard link sees the change, a link to nothing yet gets its target
// made, a loop is an error that leaves the links as they are.
TEST_F(ConfigFileTest, linksAreWrittenThroughAndLoopsRefused) {
    writeText("[xmms]\nvolume=80\n", in("shared"));
    ASSERT_EQ(link(in("shared").c_str(), path_.c_str()), 0);
    ASSERT_TRUE(edit([](ConfigFile* cfg) { xmms_cfg_write_int(cfg, "xmms", "volume", 70); }));
    EXPECT_EQ(readText(in("shared")), "[xmms]\nvolume=70\n");
    struct stat st;
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 2u);

    ASSERT_EQ(unlink(path_.c_str()), 0);
    ASSERT_EQ(symlink("../dotfiles/xmms-config", path_.c_str()), 0);  // relative, to a folder not made yet
    ASSERT_TRUE(edit([](ConfigFile* cfg) { xmms_cfg_write_int(cfg, "Kesta", "m2s_flags", 0); }));
    ASSERT_EQ(lstat(path_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(readText(in("dotfiles/xmms-config")), "[Kesta]\nm2s_flags=0\n");

    ASSERT_EQ(unlink(path_.c_str()), 0);
    ASSERT_EQ(symlink(in("loop").c_str(), path_.c_str()), 0);
    ASSERT_EQ(symlink(path_.c_str(), in("loop").c_str()), 0);
    gint error = 0;
    EXPECT_FALSE(edit([](ConfigFile* cfg) { xmms_cfg_write_int(cfg, "Kesta", "m2s_flags", 0); }, &error));
    EXPECT_EQ(error, ELOOP);
    ASSERT_EQ(lstat(path_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(lstat(in("loop").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// What is in the way of a write is reported and left as it was: a file the
// user made read-only (also when root writes it), a folder, a full or
// read-only folder.
TEST_F(ConfigFileTest, aFailedWriteLeavesWhatWasThereIntact) {
    writeText("[Kesta]\nsubtone=TRUE\n");
    ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
    gint error = 0;
    EXPECT_FALSE(
        edit([](ConfigFile* cfg) { xmms_cfg_write_boolean(cfg, "Kesta", "subtone", FALSE); }, &error));
    EXPECT_EQ(error, EACCES);
    EXPECT_EQ(readText(), "[Kesta]\nsubtone=TRUE\n");
    ASSERT_EQ(chmod(path_.c_str(), 0644), 0);

    ASSERT_EQ(unlink(path_.c_str()), 0);
    ASSERT_EQ(g_mkdir(path_.c_str(), 0755), 0);
    EXPECT_FALSE(
        edit([](ConfigFile* cfg) { xmms_cfg_write_boolean(cfg, "Kesta", "subtone", FALSE); }, &error));
    EXPECT_EQ(error, EISDIR);
    struct stat st;
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    ASSERT_EQ(g_rmdir(path_.c_str()), 0);

    writeText("[Kesta]\nsubtone=TRUE\n");
    const std::string xmmsDir = std::string(dir_) + "/.xmms";
    ASSERT_EQ(chmod(xmmsDir.c_str(), 0555), 0);
    const bool root = geteuid() == 0;  // root writes through the folder's permission bits
    const gboolean written =
        edit([](ConfigFile* cfg) { xmms_cfg_write_boolean(cfg, "Kesta", "subtone", FALSE); });
    chmod(xmmsDir.c_str(), 0755);
    if (!root) {
        EXPECT_FALSE(written);
        EXPECT_EQ(readText(), "[Kesta]\nsubtone=TRUE\n");
    }
}

TEST_F(ConfigFileTest, binaryGarbageNeverCrashesAReaderAndIsWrittenBackAsItWas) {
    std::string garbage;
    unsigned seed = 12345;
    for (int k = 0; k < 20000; ++k) {
        seed = seed * 1103515245u + 12345u;
        const char c = static_cast<char>(seed >> 16);
        garbage += (k % 37 == 0) ? '\n' : (k % 53 == 0) ? '[' : (k % 41 == 0) ? '=' : c;
    }
    writeText(garbage);
    ASSERT_TRUE(edit([](ConfigFile* cfg) {
        gint i = 0;
        xmms_cfg_read_int(cfg, "Kesta", "m2s_flags", &i);
    }));
    EXPECT_EQ(readText(), garbage);
}

// A file the size of a long-used player's: every key reads back, and a write
// keeps the rest byte for byte.
TEST_F(ConfigFileTest, aLargeFileReadsAndWritesWhole) {
    std::string text = "[xmms]\n";
    for (int k = 0; k < 100000; ++k) text += "key" + std::to_string(k) + "=value " + std::to_string(k) + "\n";
    writeText(text);
    ASSERT_TRUE(edit([](ConfigFile* cfg) {
        for (int k : {0, 4711, 99999}) {
            gchar* value = nullptr;
            ASSERT_TRUE(xmms_cfg_read_string(cfg, "xmms", ("key" + std::to_string(k)).c_str(), &value));
            EXPECT_EQ(std::string(value), "value " + std::to_string(k));
            g_free(value);
        }
        xmms_cfg_write_int(cfg, "xmms", "key50000", -1);
    }));
    const std::string changed = "key50000=value 50000\n";
    text.replace(text.find(changed), changed.size(), "key50000=-1\n");
    EXPECT_EQ(readText(), text);
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

namespace {

// Processes that read, change and write the file at once take turns: each of
// two writers sets 300 keys of its own, one read-modify-write each, and
// every key is there at the end.
TEST_F(ConfigFileTest, concurrentWritersLoseNoKeys) {
    writeText("[xmms]\nvolume=80\n");
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        writers[w] = fork();
        ASSERT_GE(writers[w], 0);
        if (writers[w] == 0) {
            const std::string section = w == 0 ? "first" : "second";
            for (int k = 0; k < 300; ++k) {
                gint error = 0;
                ConfigFile* cfg = xmms_cfg_open_file_full(path_.c_str(), &error);
                if (!cfg) _exit(1);
                xmms_cfg_write_int(cfg, section.c_str(), ("key" + std::to_string(k)).c_str(), k);
                const bool ok = xmms_cfg_write_file_full(cfg, path_.c_str(), &error);
                xmms_cfg_free(cfg);
                if (!ok) _exit(2);
            }
            _exit(0);
        }
    }
    for (pid_t writer : writers) {
        int status = 0;
        ASSERT_EQ(waitpid(writer, &status, 0), writer);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    ConfigFile* cfg = xmms_cfg_open_file(path_.c_str());
    ASSERT_NE(cfg, nullptr);
    int missing = 0;
    for (const char* section : {"first", "second"})
        for (int k = 0; k < 300; ++k) {
            gint value = -1;
            missing +=
                !xmms_cfg_read_int(cfg, section, ("key" + std::to_string(k)).c_str(), &value) || value != k;
        }
    xmms_cfg_free(cfg);
    EXPECT_EQ(missing, 0);
    EXPECT_NE(readText().find("[xmms]\nvolume=80\n"), std::string::npos);
}

// A lock held by something stuck is an error within seconds, not a hang; a
// plain read does not wait for it.
TEST_F(ConfigFileTest, aLockHeldTooLongIsAnError) {
    writeText("[xmms]\nvolume=80\n");
    const int held = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    ConfigFile* cfg = xmms_cfg_open_file(path_.c_str());
    EXPECT_NE(cfg, nullptr);
    xmms_cfg_free(cfg);
    const auto start = std::chrono::steady_clock::now();
    gint error = 0;
    EXPECT_EQ(xmms_cfg_open_file_full(path_.c_str(), &error), nullptr);
    EXPECT_EQ(error, EWOULDBLOCK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(readText(), "[xmms]\nvolume=80\n");
    close(held);
}

// Writers that all find no file yet lose none of each other's keys: six
// that set [Player] keys and six that set [Kesta] keys (as the player and
// kesta --save do) start at once, twenty times over.
TEST_F(ConfigFileTest, writersThatFindNoFileLoseNoKeys) {
    for (int round = 0; round < 20; ++round) {
        unlink(path_.c_str());
        std::vector<pid_t> writers;
        for (int w = 0; w < 12; ++w) {
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                gint error = 0;
                ConfigFile* cfg = xmms_cfg_open_file_full(path_.c_str(), &error);
                if (!cfg && error != ENOENT) _exit(2);
                if (!cfg) cfg = xmms_cfg_new();
                xmms_cfg_write_int(cfg, w < 6 ? "Player" : "Kesta", ("key" + std::to_string(w)).c_str(), w);
                const bool ok = xmms_cfg_write_file_full(cfg, path_.c_str(), &error);
                xmms_cfg_free(cfg);
                _exit(ok ? 0 : 1);
            }
            writers.push_back(child);
        }
        for (pid_t writer : writers) {
            int status = 0;
            ASSERT_EQ(waitpid(writer, &status, 0), writer);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
        ConfigFile* cfg = xmms_cfg_open_file(path_.c_str());
        ASSERT_NE(cfg, nullptr);
        for (int w = 0; w < 12; ++w) {
            gint value = -1;
            EXPECT_TRUE(xmms_cfg_read_int(cfg, w < 6 ? "Player" : "Kesta",
                                          ("key" + std::to_string(w)).c_str(), &value) &&
                        value == w)
                << "round " << round << ", writer " << w << ":\n"
                << readText();
        }
        xmms_cfg_free(cfg);
    }
}

// A file shared by hard links is rewritten in place; when the new text does
// not fit (past a file-size limit here, a full disk elsewhere) the write
// fails before the old text is touched, and both names keep it whole.
TEST_F(ConfigFileTest, aLinkedFileThatCannotGrowIsLeftWhole) {
    std::string old = "[xmms]\n";
    while (old.size() < 4000) old += "skin=/usr/share/xmms/Skins/" + std::to_string(old.size()) + "\n";
    writeText(old);
    ASSERT_EQ(link(path_.c_str(), in("shared").c_str()), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        gint error = 0;
        const bool ok = edit(
            [](ConfigFile* cfg) {
                for (int k = 0; k < 20; ++k)
                    xmms_cfg_write_int(cfg, "Kesta", ("key" + std::to_string(k)).c_str(), k);
            },
            &error);
        _exit(ok ? 0 : error == EFBIG ? 3 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
    EXPECT_EQ(readText(), old);
    EXPECT_EQ(readText(in("shared")), old);
}

}  // namespace

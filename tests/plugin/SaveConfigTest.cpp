// save_config and the player's settings file: the plug-in's five keys are
// written, and a file it cannot read is never replaced, so that the player's
// other settings survive whatever is in the way.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "kesta_xmms.h"

namespace {

class SaveConfig : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kesta-save-XXXXXX";
        home_ = mkdtemp(tmpl);
        ASSERT_EQ(chmod(home_.c_str(), 0755), 0);
        setenv("HOME", home_.c_str(), 1);
        folder_ = home_ + "/.xmms";
        path_ = folder_ + "/config";
        ASSERT_EQ(mkdir(folder_.c_str(), 0755), 0);
        std::lock_guard<std::mutex> lock(engine_mutex);
        kesta_cfg = KestaConfig{0, kVoiceMode, 1, -6.0f, 0};
    }
    void TearDown() override { (void)std::system(("rm -rf '" + home_ + "'").c_str()); }
    std::string text() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string home_, folder_, path_;
};

const char kWritten[] =
    "[Kesta]\nm2s_enable=FALSE\nm2s_flags=0\nvastor_enable=TRUE\nvastor_spread=-6\nsubtone=FALSE\n";

TEST_F(SaveConfig, aMissingFileIsCreatedAndAnExistingOneKeepsItsOtherSettings) {
    save_config();
    EXPECT_EQ(text(), kWritten);

    std::ofstream(path_) << "[xmms]\nvolume=80\n\n[Kesta]\nsubtone=TRUE\n";
    save_config();
    EXPECT_EQ(text(),
              "[xmms]\nvolume=80\n\n[Kesta]\nsubtone=FALSE\nm2s_enable=FALSE\nm2s_flags=0\n"
              "vastor_enable=TRUE\nvastor_spread=-6\n");
}

// The file left by running the player once with sudo: root's, mode 0600, in
// the user's own folder. The user's player (a child as nobody) must leave it
// alone. A folder or a FIFO in its place must neither be replaced nor block.
TEST_F(SaveConfig, aFileThatCannotBeReadIsLeftAsItIs) {
    const std::string precious = "[xmms]\nvolume=80\n[Kesta]\nsubtone=TRUE\n";
    struct Case {
        const char* name;
        std::function<void()> make;
        bool asOtherUser;
    };
    const bool root = geteuid() == 0;
    const Case cases[] = {
        {"a private file of root's",
         [&] {
             std::ofstream(path_) << precious;
             ASSERT_EQ(chmod(path_.c_str(), root ? 0600 : 0), 0);
             if (root) {
                 ASSERT_EQ(chown(folder_.c_str(), 65534, 65534), 0);
             }
         },
         root},
        {"a folder", [&] { ASSERT_EQ(mkdir(path_.c_str(), 0755), 0); }, false},
        {"a FIFO", [&] { ASSERT_EQ(mkfifo(path_.c_str(), 0644), 0); }, false},
    };
    for (const Case& c : cases) {
        (void)std::system(("rm -rf '" + path_ + "'").c_str());
        ASSERT_EQ(chown(folder_.c_str(), getuid(), getgid()), 0);
        c.make();
        if (c.asOtherUser) {
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
                save_config();
                _exit(0);
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.name;
        } else {
            save_config();
        }
        struct stat st;
        ASSERT_EQ(lstat(path_.c_str(), &st), 0) << c.name;
        if (S_ISREG(st.st_mode)) {
            // The same file with the mode it was given; then readable again
            // (as a user, the test cannot read it either) for its bytes.
            EXPECT_EQ(st.st_mode & 07777, root ? 0600u : 0u) << c.name;
            ASSERT_EQ(chmod(path_.c_str(), 0600), 0);
            EXPECT_EQ(text(), precious) << c.name;
        } else {
            EXPECT_TRUE(S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode)) << c.name;
        }
    }
    // The settings stay in memory all the same.
    std::lock_guard<std::mutex> lock(engine_mutex);
    EXPECT_EQ(kesta_cfg.m2s_mode, kVoiceMode);
    EXPECT_EQ(kesta_cfg.spread_db, -6.0f);
}

}  // namespace

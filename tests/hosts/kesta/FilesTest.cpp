// kesta's care for the files it is given: no output ever lands on an input
// or on another output, by any name; every wait ends when the user asks; a
// closed standard descriptor takes none of our files.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Files : public ::testing::Test {
  protected:
    std::string dir;
    void SetUp() override {
        char tmpl[] = "/tmp/kesta-files-XXXXXX";
        dir = mkdtemp(tmpl);
        ASSERT_EQ(mkdir(path("tmp").c_str(), 0700), 0);
        ASSERT_EQ(mkdir(path("home").c_str(), 0700), 0);
    }
    void TearDown() override { (void)std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string path(const std::string& name) const { return dir + "/" + name; }
    int sh(const std::string& cmd) const {
        const int raw = std::system(("cd '" + dir + "' && " + cmd).c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    // The shell command that runs kesta with args (redirections included) in
    // dir, its home and temporary folder inside dir, its stderr in dir/err.
    std::string command(const std::string& args) const {
        return "cd '" + dir + "' && HOME='" + dir + "/home' TMPDIR='" + dir + "/tmp' exec '" KESTA_BIN "' " +
               args + " 2>err";
    }
    int kesta(const std::string& args) const {
        const int raw = std::system(command(args).c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    std::string err() const { return readAll(path("err")); }
    // A stereo 16-bit WAV of frames frames (or other sample kinds).
    void writeWav(const std::string& name, long frames, int sub = SF_FORMAT_PCM_16,
                  float level = 0.3f) const {
        SF_INFO info{};
        info.channels = 2;
        info.samplerate = 44100;
        info.format = SF_FORMAT_WAV | sub;
        SNDFILE* f = sf_open(path(name).c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        std::vector<float> v(static_cast<size_t>(frames) * 2);
        for (size_t k = 0; k < v.size(); ++k)
            v[k] = level * std::sin(0.01f * static_cast<float>(k / 2 + k % 2));
        sf_writef_float(f, v.data(), frames);
        sf_close(f);
    }
    // Every entry under dir but err, with a regular file's bytes.
    std::map<std::string, std::string> snapshot(const std::string& sub = std::string()) const {
        std::map<std::string, std::string> all;
        DIR* d = opendir(path(sub).c_str());
        if (!d) return all;
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name, rel = sub.empty() ? name : sub + "/" + name;
            if (name == "." || name == ".." || rel == "err") continue;
            struct stat st;
            lstat(path(rel).c_str(), &st);
            all[rel] = S_ISREG(st.st_mode) ? readAll(path(rel)) : std::to_string(st.st_mode & S_IFMT);
            if (S_ISDIR(st.st_mode))
                for (const auto& inner : snapshot(rel)) all.insert(inner);
        }
        closedir(d);
        return all;
    }
};

// Every pair of roles (input, output, picture, an output of -o DIR, standard
// input and output) by every spelling of one file: refused before any work
// with one line naming both, every file as it was; the cases that are safe
// run and leave the inputs as they were.
TEST_F(Files, noOutputIsAnInputOrAnotherOutputByAnyName) {
    writeWav("a.wav", 3000);
    writeWav("b.wav", 2000);
    ASSERT_EQ(sh("mkdir o sub && ln -s a.wav link.wav && ln a.wav hard.wav && mkfifo fifo.wav"), 0);
    const struct {
        const char* setup;  // shell commands in dir first
        const char* args;
        bool refused;
    } cases[] = {
        {"", "render a.wav a.wav", true},
        {"", "render a.wav ./a.wav", true},
        {"", "render a.wav sub/../a.wav", true},
        {"", "render a.wav \"$PWD/a.wav\"", true},
        {"", "render a.wav link.wav", true},
        {"", "render link.wav hard.wav", true},
        {"", "render a.wav /proc/self/fd/3 --type wav 3<>a.wav", true},
        {"", "render a.wav /dev/stdin --type wav <a.wav", true},
        {"", "render /dev/stdin a.wav <a.wav", true},
        {"", "render - a.wav <a.wav", true},
        {"", "render a.wav /dev/stdout --type wav >>a.wav", true},
        {"", "render a.wav - --type flac 1<>a.wav", true},
        {"", "render a.wav - --type wav >>hard.wav", true},
        {"", "picture - -o a.wav <a.wav", true},
        {"", "picture a.wav b.wav -o link.wav", true},
        {"", "picture b.wav -o /dev/stdout >>b.wav", true},
        {"", "render a.wav out.wav --picture out.wav", true},
        {"", "render a.wav out.wav --picture ./sub/../out.wav", true},
        {"", "render a.wav out.wav --picture hard.wav", true},
        {"", "render a.wav out.wav --picture /dev/stdout >>a.wav", true},
        {"", "render fifo.wav out.wav --picture p.png", true},
        {"", "render a.wav b.wav -o .", true},
        {"ln b.wav o/a.wav", "render a.wav b.wav -o o", true},
        {"ln -s ../b.wav o/a.wav", "render a.wav b.wav -o o", true},
        {"ln -s elsewhere.wav o/a.wav", "render a.wav -o o", true},
        {"", "render a.wav b.wav -o o --type wav --picture a.png", true},
        {"", "render a.wav out.wav --picture p.png", false},
        {"", "render - out.wav <a.wav", false},
        {"", "render a.wav - --type wav >out.wav", false},
        {"", "render a.wav b.wav -o o", false},
        {"", "picture a.wav -o b.png", false},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(sh(std::string("rm -rf o/* out.wav p.png b.png a.png; ") + c.setup), 0) << c.args;
        const auto before = snapshot();
        const int status = kesta(c.args);
        const std::string said = err();
        if (c.refused) {
            EXPECT_EQ(status, 2) << c.args << ": " << said;
            EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << c.args << ": " << said;
            EXPECT_TRUE(snapshot() == before) << c.args << ": " << said;
        } else {
            EXPECT_EQ(status, 0) << c.args << ": " << said;
            const auto after = snapshot();
            for (const char* input : {"a.wav", "b.wav"})
                EXPECT_TRUE(after.at(input) == before.at(input)) << c.args << ": " << input;
        }
    }
}

// A wait for a FIFO's reader (or writer), or for a reader that does not read, ends
// within a second of SIGINT, SIGTERM or SIGHUP, by that signal, with
// nothing left behind: render (both paths), its picture, picture, a batch
// whose folder holds a FIFO of an output's name. (The picture of a render is
// drawn once the render's output is complete and in place.)
TEST_F(Files, aStopSignalEndsEveryWaitForAReader) {
    writeWav("in.wav", 44100 * 3);
    ASSERT_EQ(sh("mkdir o && mkfifo o/in.wav fifo"), 0);
    const struct {
        const char* args;
        bool readerThatNeverReads;
    } cases[] = {
        {"render in.wav fifo --type wav", false},
        {"render in.wav fifo --type wav --player", false},
        {"render in.wav out.wav --picture fifo", false},
        {"picture in.wav -o fifo", false},
        {"render in.wav -o o -q", false},
        {"render fifo out.wav", false},
        {"picture fifo -o p.png", false},
        {"render in.wav fifo --type wav", true},
        {"picture in.wav -o fifo", true},
    };
    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    int turn = 0;
    for (const auto& c : cases) {
        const int signal = signals[turn++ % 3];
        auto before = snapshot();
        int reader = -1;
        if (c.readerThatNeverReads) reader = open(path("fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            execl("/bin/sh", "sh", "-c", command(c.args).c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        const auto asked = std::chrono::steady_clock::now();
        ASSERT_EQ(kill(child, signal), 0);
        int status = 0;
        for (int k = 0; k < 300 && waitpid(child, &status, WNOHANG) == 0; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
        if (seconds >= 3) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        if (reader >= 0) close(reader);
        EXPECT_LT(seconds, 1.0) << c.args;
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << c.args << ": " << status;
        auto after = snapshot();
        after.erase("out.wav");
        before.erase("out.wav");
        EXPECT_TRUE(after == before) << c.args << ": " << err();
    }
}

// With a standard descriptor closed, none of kesta's files takes its place:
// standard output closed is an error at once (not the temporary file copied
// into itself), and a warning with standard error closed goes nowhere, not
// into the output.
TEST_F(Files, closedStandardDescriptorsTakeNoneOfOurFiles) {
    writeWav("in.wav", 20000);
    ASSERT_EQ(sh("head -c 40000 in.wav >cut.wav"), 0);  // warns: truncated
    const auto before = snapshot();
    EXPECT_EQ(sh("timeout 20 '" KESTA_BIN "' render in.wav - --type wav <&- >&- 2>err"), 1);
    EXPECT_NE(err().find("standard output"), std::string::npos) << err();
    EXPECT_TRUE(snapshot() == before);
    ASSERT_EQ(kesta("render cut.wav open.wav"), 0);
    EXPECT_NE(err().find("warning"), std::string::npos);
    ASSERT_EQ(sh("'" KESTA_BIN "' render cut.wav closed.wav 2>&-"), 0);
    EXPECT_TRUE(readAll(path("closed.wav")) == readAll(path("open.wav")));
}

// A settings file that another program keeps locked is never taken
// silently: render waits its few seconds, says so, and uses the settings
// the file holds (read without the lock); --strict refuses; a stop signal
// ends the wait at once.
TEST_F(Files, settingsThatAreLockedOrCannotGrowAreNeverTakenSilently) {
    writeWav("in.wav", 5000);
    ASSERT_EQ(kesta("render in.wav ref.wav --spread -12.5 --save"), 0) << err();
    int held = open(path("home/.xmms/config").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    EXPECT_EQ(kesta("render in.wav out.wav"), 0);
    EXPECT_NE(err().find("warning: " + path("home/.xmms/config") + " is kept locked by another program"),
              std::string::npos)
        << err();
    EXPECT_TRUE(readAll(path("out.wav")) == readAll(path("ref.wav")));
    EXPECT_EQ(kesta("render in.wav strict.wav --strict"), 1);
    EXPECT_NE(err().find("(--strict)"), std::string::npos) << err();
    EXPECT_FALSE(access(path("strict.wav").c_str(), F_OK) == 0);

    // A settings file shared by a hard link is rewritten in place: when the
    // new text does not fit (past a file-size limit here, a full disk
    // elsewhere), it is left whole, as the message says.
    close(held);
    std::string settings = "[xmms]\n";
    while (settings.size() < 4050)
        settings += "skin=/usr/share/xmms/Skins/" + std::to_string(settings.size()) + "\n";
    std::ofstream(path("home/.xmms/config"), std::ios::binary) << settings;
    ASSERT_EQ(link(path("home/.xmms/config").c_str(), path("home/.xmms/shared").c_str()), 0);
    EXPECT_EQ(sh("ulimit -f 4 && HOME=home TMPDIR=tmp '" KESTA_BIN
                 "' render in.wav full.wav --save --spread -3 2>err"),
              1);
    EXPECT_NE(err().find("so it was left as it is"), std::string::npos) << err();
    EXPECT_TRUE(readAll(path("home/.xmms/config")) == settings);
    ASSERT_EQ(flock(held = open(path("home/.xmms/config").c_str(), O_RDONLY | O_CLOEXEC), LOCK_EX), 0);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", command("render in.wav stopped.wav --save --spread -3").c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_EQ(kill(child, SIGINT), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count(), 1.0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_FALSE(access(path("stopped.wav").c_str(), F_OK) == 0);
    close(held);
}

// Peak of the samples of a file, read as floats.
float peakOf(const std::string& file) {
    SF_INFO info{};
    SNDFILE* f = sf_open(file.c_str(), SFM_READ, &info);
    if (!f) return -1;
    std::vector<float> v(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(f, v.data(), info.frames);
    sf_close(f);
    float peak = 0;
    for (float x : v) peak = std::max(peak, std::fabs(x));
    return peak;
}

// --player takes a float input at its own level, as the same audio at 16
// bits; on both paths a sample that is not a number, or finite but absurd
// (beyond +-1000), is reported, and refused with --strict.
TEST_F(Files, floatInputsKeepTheirLevelAndDamagedSamplesAreReported) {
    writeWav("float.wav", 20000, SF_FORMAT_FLOAT, 0.1f);
    writeWav("int.wav", 20000, SF_FORMAT_PCM_16, 0.1f);
    ASSERT_EQ(kesta("render float.wav f.wav --player"), 0) << err();
    ASSERT_EQ(kesta("render int.wav i.wav --player"), 0) << err();
    EXPECT_NEAR(peakOf(path("f.wav")), peakOf(path("i.wav")), 0.002f);
    for (const float bad : {NAN, 1e30f}) {
        SF_INFO info{};
        info.channels = 2;
        info.samplerate = 44100;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* f = sf_open(path("bad.wav").c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        std::vector<float> v(4000, 0.05f);
        v[2001] = bad;
        sf_write_float(f, v.data(), static_cast<sf_count_t>(v.size()));
        sf_close(f);
        for (const char* path : {"", " --player"}) {
            const std::string args = std::string("render bad.wav out.wav") + path;
            EXPECT_EQ(kesta(args + " --strict"), 1) << args << bad;
            EXPECT_NE(err().find("1 sample was not a number or infinite"), std::string::npos)
                << args << err();
            EXPECT_NE(access(this->path("out.wav").c_str(), F_OK), 0) << args << bad;
            EXPECT_EQ(kesta(args), 0) << args << bad;
            EXPECT_NE(err().find("(the first at frame 1000)"), std::string::npos) << args << err();
            EXPECT_EQ(unlink(this->path("out.wav").c_str()), 0) << args << bad;
        }
    }
}

std::string tagOf(const std::string& file, int kind) {
    SF_INFO info{};
    SNDFILE* f = sf_open(file.c_str(), SFM_READ, &info);
    if (!f) return "(unreadable)";
    const char* value = sf_get_string(f, kind);
    const std::string text = value ? value : "";
    sf_close(f);
    return text;
}

// A file that is replaced (audio or picture) keeps its mode and, as root,
// its owner; a tag the output cannot hold is said, and the others are kept;
// text that is not UTF-8 is repaired for a format that needs it, and said;
// an empty HOME counts as unset.
TEST_F(Files, replacedFilesKeepModeAndOwnerAndNoTagIsLostSilently) {
    writeWav("in.wav", 48000);
    for (const char* name : {"out.wav", "p.png"}) {
        std::ofstream(path(name)) << "old";
        ASSERT_EQ(chmod(path(name).c_str(), 0600), 0);
        if (geteuid() == 0) {
            ASSERT_EQ(chown(path(name).c_str(), 65534, 65534), 0);
        }
    }
    ASSERT_EQ(kesta("render in.wav out.wav --picture p.png"), 0) << err();
    for (const char* name : {"out.wav", "p.png"}) {
        struct stat st;
        ASSERT_EQ(stat(path(name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
        if (geteuid() == 0) {
            EXPECT_EQ(st.st_uid, 65534u) << name;
        }
        EXPECT_NE(readAll(path(name)), "old") << name;
    }

    SF_INFO info{};
    info.channels = 2;
    info.samplerate = 48000;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path("long.flac").c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_set_string(f, SF_STR_TITLE, std::string(100000, 't').c_str());
    sf_set_string(f, SF_STR_ARTIST, "Me");
    std::vector<short> silence(2000);
    sf_writef_short(f, silence.data(), 1000);
    sf_close(f);
    EXPECT_EQ(kesta("render long.flac long.wav"), 0);
    EXPECT_NE(err().find("cannot hold these tags, so they are left out: title (100000 bytes)"),
              std::string::npos)
        << err();
    EXPECT_EQ(tagOf(path("long.wav"), SF_STR_ARTIST), "Me");

    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    f = sf_open(path("latin.wav").c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    sf_set_string(f, SF_STR_TITLE, "caf\xe9");
    sf_writef_short(f, silence.data(), 1000);
    sf_close(f);
    EXPECT_EQ(kesta("render latin.wav latin.opus"), 0) << err();
    EXPECT_NE(err().find("not valid UTF-8"), std::string::npos) << err();
    EXPECT_EQ(tagOf(path("latin.opus"), SF_STR_TITLE), "caf\xef\xbf\xbd");

    ASSERT_EQ(sh("HOME= '" KESTA_BIN "' info >info.txt"), 0);
    EXPECT_EQ(readAll(path("info.txt")).find("Settings:  /.xmms/config"), std::string::npos);
}

}  // namespace

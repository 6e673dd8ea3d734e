#include "Batch.h"

#include <glib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "AudioFile.h"

std::string planBatch(const std::vector<std::string>& inputs, const std::string& folder,
                      const std::string& type, std::vector<BatchItem>& items) {
    std::set<std::string> taken;
    for (const std::string& in : inputs) {
        if (in == "-") return "standard input cannot be one of several inputs";
        gchar* base = g_path_get_basename(in.c_str());
        std::string name = base;
        g_free(base);
        if (!type.empty()) {
            const size_t dot = name.rfind('.');
            name = (dot == std::string::npos || dot == 0 ? name : name.substr(0, dot)) + "." + type;
        }
        const std::string out = folder + "/" + name;
        if (!taken.insert(out).second) return "two inputs would both be written to " + out;
        // A link in the folder could lead out of it, onto anything: the
        // batch writes only files that are in the folder.
        struct stat st;
        if (lstat(out.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            return "the output " + out +
                   " is a link, and -o writes only files in its folder, never through a link; remove the "
                   "link, or render that input alone";
        items.push_back({in, out});
    }
    return std::string();
}

int runBatch(const std::vector<BatchItem>& items, int jobs, bool quiet,
             const std::function<int(const BatchItem&)>& render, const volatile std::sig_atomic_t* stop) {
    using Clock = std::chrono::steady_clock;
    struct Running {
        size_t item;
        Clock::time_point start;
    };
    std::map<pid_t, Running> running;
    size_t next = 0, failures = 0;
    bool forwarded = false;
    const pid_t parent = getpid();
    std::fflush(nullptr);
    while (next < items.size() || !running.empty()) {
        while (!*stop && next < items.size() && static_cast<int>(running.size()) < jobs) {
            const pid_t child = fork();
            if (child == 0) {
                // A worker ends with the batch, however the batch ends: the
                // signal comes when the parent is gone, or the parent was gone
                // before it could be asked for. Its result is then not put in
                // place either.
                prctl(PR_SET_PDEATHSIG, SIGTERM);
                if (getppid() != parent) _exit(1);
                OutputFile::commitOnlyUnder(parent);
                const int status = render(items[next]);
                std::fflush(nullptr);
                _exit(status);
            }
            if (child < 0) {
                std::fprintf(stderr, "kesta: %s: cannot start a worker: %s\n", items[next].in.c_str(),
                             std::strerror(errno));
                ++failures;
            } else {
                running[child] = {next, Clock::now()};
            }
            ++next;
        }
        if (*stop && !forwarded) {
            for (const auto& r : running) kill(r.first, static_cast<int>(*stop));
            forwarded = true;
            next = items.size();
        }
        if (running.empty()) break;
        int status = 0;
        const pid_t done = waitpid(-1, &status, 0);
        if (done < 0) {
            if (errno == EINTR) continue;
            break;
        }
        const auto it = running.find(done);
        if (it == running.end()) continue;
        const BatchItem& item = items[it->second.item];
        const double seconds = std::chrono::duration<double>(Clock::now() - it->second.start).count();
        const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        running.erase(it);
        if (!ok) ++failures;
        if (*stop) continue;
        if (ok && !quiet)
            std::fprintf(stderr, "kesta: %s -> %s (%.1f s)\n", item.in.c_str(), item.out.c_str(), seconds);
        else if (!ok)
            std::fprintf(stderr, "kesta: %s: failed\n", item.in.c_str());
    }
    if (*stop) return 1;
    if (!quiet || failures)
        std::fprintf(stderr, "kesta: %zu of %zu files rendered, %zu failed\n", items.size() - failures,
                     items.size(), failures);
    return failures ? 1 : 0;
}

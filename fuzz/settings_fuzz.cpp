// The settings-file library under any file and any writes. A file written
// back must read back with the values that were set, hold no key that was
// neither in the file nor set (no value, key or section may make lines of
// its own), and keep every line that does not hold a key that was set, byte
// for byte and in order.
#include <fuzzer/FuzzedDataProvider.h>
#include <glib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "configfile.h"

namespace {

using Key = std::pair<std::string, std::string>;  // section, key

std::string trim(const std::string& s) {
    const char* blanks = " \t\r\n";
    const size_t b = s.find_first_not_of(blanks);
    if (b == std::string::npos) return std::string();
    return s.substr(b, s.find_last_not_of(blanks) - b + 1);
}

// The documented reading of a file, line by line: each line's bytes with its
// line end, and the key it holds, if any.
struct ModelLine {
    std::string bytes;
    bool isKey = false;
    Key key;
};

std::vector<ModelLine> model(const std::string& text) {
    std::vector<ModelLine> lines;
    bool inSection = false;
    std::string section;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        ModelLine line;
        line.bytes = text.substr(start, end - start);
        start = end;
        const std::string t = trim(line.bytes);
        if (!t.empty() && t[0] == '[') {
            const size_t close = t.find(']');
            inSection = close != std::string::npos;
            if (inSection) section = t.substr(1, close - 1);
        } else if (inSection && t.find('=') != std::string::npos) {
            const std::string key = trim(t.substr(0, t.find('=')));
            if (!key.empty()) line.isKey = true, line.key = Key(section, key);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool readString(ConfigFile* cfg, const Key& k, std::string& value) {
    gchar* v = nullptr;
    if (!xmms_cfg_read_string(cfg, k.first.c_str(), k.second.c_str(), &v)) return false;
    value = v;
    g_free(v);
    return true;
}

const std::string& folder() {
    static const std::string dir = [] {
        // In memory where the system has such a folder: a write ends with an
        // fsync, which on a disk would make every run wait for it.
        std::string tmpl =
            access("/dev/shm", W_OK) == 0 ? "/dev/shm/settings-fuzz-XXXXXX" : "/tmp/settings-fuzz-XXXXXX";
        const std::string made = mkdtemp(&tmpl[0]);
        static const std::string removeCommand = "rm -rf '" + made + "'";
        std::atexit([] { (void)std::system(removeCommand.c_str()); });
        return made;
    }();
    return dir;
}

const char* const kSections[] = {"Kesta", "xmms", "", "Kesta]", "a\nb", " Kesta "};
const char* const kKeys[] = {"m2s_flags", "subtone", "vastor_spread", "a=b", "[Kesta]", " k", "k\r", ""};
const char* const kValues[] = {"0", "TRUE", "-2.5", "a\n[Kesta]\nm2s_flags=0", " padded ", "", "x\ry"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string text = in.ConsumeRandomLengthString(1 << 16);
    const std::string original = folder() + "/original", written = folder() + "/written";
    { std::ofstream(original, std::ios::binary | std::ios::trunc) << text; }
    gint error = -1;
    ConfigFile* cfg = xmms_cfg_open_file_full(original.c_str(), &error);
    CHECK(cfg && error == 0);

    // Writes: named sections, keys and values, hostile ones among them, or
    // any bytes. A write is either taken as a whole or changes nothing.
    std::set<Key> set;
    const int writes = in.ConsumeIntegralInRange(0, 8);
    for (int w = 0; w < writes; ++w) {
        auto pick = [&](const char* const* names, size_t count) {
            const size_t choice = in.ConsumeIntegralInRange<size_t>(0, count);
            return choice < count ? std::string(names[choice])
                                  : std::string(in.ConsumeRandomLengthString(32).c_str());
        };
        const Key key(pick(kSections, std::size(kSections)), pick(kKeys, std::size(kKeys)));
        const std::string value = pick(kValues, std::size(kValues));
        std::string before, after;
        const bool had = readString(cfg, key, before);
        xmms_cfg_write_string(cfg, key.first.c_str(), key.second.c_str(), value.c_str());
        const bool has = readString(cfg, key, after);
        if (has && after == trim(value)) {
            set.insert(key);
        } else {
            CHECK(has == had && after == before);
        }
    }
    CHECK(xmms_cfg_write_file_full(cfg, written.c_str(), &error) && error == 0);

    const std::string out = readAll(written);
    ConfigFile* back = xmms_cfg_open_file(written.c_str());
    CHECK(back);
    // The keys: those of the file and those set, no others; each reads back.
    const std::vector<ModelLine> before = model(text), after = model(out);
    std::set<Key> keysBefore, keysAfter;
    for (const ModelLine& l : before)
        if (l.isKey) keysBefore.insert(l.key);
    for (const ModelLine& l : after)
        if (l.isKey) keysAfter.insert(l.key);
    std::set<Key> expected = keysBefore;
    expected.insert(set.begin(), set.end());
    CHECK(keysAfter == expected);
    for (const Key& k : expected) {
        // A name holding a NUL byte cannot be asked for through the C calls.
        if (k.first.find('\0') != std::string::npos || k.second.find('\0') != std::string::npos) continue;
        std::string inMemory, reread;
        CHECK(readString(cfg, k, inMemory));
        CHECK(readString(back, k, reread));
        CHECK(inMemory == reread);
    }
    // The lines: apart from the keys set, the file as it was, then at most
    // the headers of new sections and blank lines before them.
    std::vector<std::string> kept, keptAfter;
    for (const ModelLine& l : before)
        if (!(l.isKey && set.count(l.key))) kept.push_back(l.bytes);
    for (const ModelLine& l : after)
        if (!(l.isKey && set.count(l.key))) keptAfter.push_back(l.bytes);
    // Only a last line without a line end may gain one, when lines follow it.
    const bool openEnd = !before.empty() && before.back().bytes.back() != '\n' &&
                         !(before.back().isKey && set.count(before.back().key));
    CHECK(keptAfter.size() >= kept.size());
    for (size_t i = 0; i < kept.size(); ++i) {
        const bool ended = openEnd && i + 1 == kept.size() &&
                           (keptAfter[i] == kept[i] + "\n" || keptAfter[i] == kept[i] + "\r\n");
        CHECK(keptAfter[i] == kept[i] || ended);
    }
    for (size_t i = kept.size(); i < keptAfter.size(); ++i) {
        const std::string t = trim(keptAfter[i]);
        bool header = false;
        for (const Key& k : set) header = header || t == "[" + k.first + "]";
        CHECK(t.empty() || header);
    }
    if (set.empty()) CHECK(out == text);

    xmms_cfg_free(back);
    xmms_cfg_free(cfg);
    return 0;
}

// The descriptions the build writes from the parameter table describe the
// same ports as the hand-written ones they replaced (kesta.ttl here, as it
// was generated): per plug-in and port index, one test per property.
#include <algorithm>
#include <map>
#include <sstream>
#include <vector>

#include "PluginHarness.h"

namespace {

using namespace plugin_test;

using Values = std::vector<std::string>;
using Port = std::map<std::string, Values>;                  // predicate -> objects
using Plugins = std::map<std::string, std::map<int, Port>>;  // plug-in -> index -> port

const std::string kLv2 = "<http://lv2plug.in/ns/lv2core#";

// The ports of each plug-in in a Turtle file, read through serdi's N-Triples;
// a blank node as object (a scale point) stands for its own sorted triples.
Plugins PortsOf(const std::string& file) {
    std::string text;
    EXPECT_EQ(RunCommand("serdi -i turtle -o ntriples " + file + " 2>/dev/null", &text), 0) << file;
    std::multimap<std::string, std::pair<std::string, std::string>> bySubject;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t a = line.find(' '), b = line.find(' ', a + 1);
        if (b == std::string::npos || line.size() < b + 3) continue;
        bySubject.emplace(line.substr(0, a), std::make_pair(line.substr(a + 1, b - a - 1),
                                                            line.substr(b + 1, line.size() - b - 3)));
    }
    auto describe = [&](const std::string& node) {
        Port port;
        auto [from, to] = bySubject.equal_range(node);
        for (auto it = from; it != to; ++it) {
            std::string object = it->second.second;
            if (object.compare(0, 2, "_:") == 0) {
                Values inner;
                auto [f, t] = bySubject.equal_range(object);
                for (auto i = f; i != t; ++i) inner.push_back(i->second.first + " " + i->second.second);
                std::sort(inner.begin(), inner.end());
                object.clear();
                for (const std::string& v : inner) object += v + "; ";
            }
            port[it->second.first].push_back(object);
        }
        for (auto& [predicate, values] : port) std::sort(values.begin(), values.end());
        return port;
    };
    Plugins plugins;
    for (const char* name : {"stereo", "mono"}) {
        auto [from, to] = bySubject.equal_range("<" KESTA_LV2_URI_BASE + std::string(name) + ">");
        for (auto it = from; it != to; ++it) {
            if (it->second.first != kLv2 + "port>") continue;
            Port port = describe(it->second.second);
            const Values& index = port[kLv2 + "index>"];
            EXPECT_EQ(index.size(), 1u);
            if (index.size() == 1) plugins[name][std::atoi(index[0].c_str() + 1)] = port;
        }
    }
    return plugins;
}

class Lv2Description : public ::testing::TestWithParam<const char*> {
  protected:
    static void SetUpTestSuite() {
        was_ = new Plugins(PortsOf(KESTA_LV2_FIXTURE));
        is_ = new Plugins(PortsOf(KESTA_LV2_BUNDLE "/kesta.ttl"));
    }
    static void TearDownTestSuite() {
        delete was_;
        delete is_;
    }
    static Plugins* was_;
    static Plugins* is_;
};

Plugins* Lv2Description::was_ = nullptr;
Plugins* Lv2Description::is_ = nullptr;

TEST_P(Lv2Description, portsKeepTheProperty) {
    const std::string predicate = GetParam();
    ASSERT_EQ(was_->size(), 2u);
    for (const auto& [plugin, ports] : *was_) {
        const auto& now = (*is_)[plugin];
        ASSERT_EQ(now.size(), ports.size()) << plugin;
        for (const auto& [index, port] : ports) {
            const auto found = now.find(index);
            ASSERT_NE(found, now.end()) << plugin << " " << index;
            const auto before = port.find(predicate), after = found->second.find(predicate);
            EXPECT_EQ(before == port.end() ? Values() : before->second,
                      after == found->second.end() ? Values() : after->second)
                << plugin << " port " << index;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Properties, Lv2Description,
    ::testing::Values(
        "<http://lv2plug.in/ns/lv2core#symbol>", "<http://lv2plug.in/ns/lv2core#name>",
        "<http://lv2plug.in/ns/lv2core#default>", "<http://lv2plug.in/ns/lv2core#minimum>",
        "<http://lv2plug.in/ns/lv2core#maximum>", "<http://lv2plug.in/ns/lv2core#portProperty>",
        "<http://lv2plug.in/ns/lv2core#scalePoint>", "<http://lv2plug.in/ns/lv2core#designation>",
        "<http://www.w3.org/1999/02/22-rdf-syntax-ns#type>", "<http://lv2plug.in/ns/extensions/units#unit>",
        "<http://lv2plug.in/ns/ext/port-groups#group>", "<http://www.w3.org/2000/01/rdf-schema#comment>"),
    [](const ::testing::TestParamInfo<const char*>& p) {
        std::string name = p.param;
        name = name.substr(name.find('#') + 1);
        return name.substr(0, name.size() - 1);
    });

}  // namespace

// Settings on their way to the engines: each change is taken at its frame,
// once, with exactly the parameters it changes from what the engines had.
#include <gtest/gtest.h>

#include <vector>

#include "SettingsTimeline.h"

namespace {

using kesta::Bit;
using kesta::Parameter;
using kesta::Settings;

struct Taken {
    long long frame;
    float spread;
    unsigned changed;
};

Settings Spread(float db, bool music = true) {
    Settings s;
    s.spreadDb = db;
    s.music = music;
    return s;
}

// Notes each (settings, frame), then takes up to frame `until`.
template <int Capacity = 4>
std::vector<Taken> Timeline(const std::vector<std::pair<Settings, long long>>& notes, long long until) {
    kesta::SettingsTimeline<Capacity> timeline;
    timeline.reset(Settings());
    for (const auto& n : notes) timeline.note(n.first, n.second);
    std::vector<Taken> out;
    for (long long f = 0; f <= until; ++f)
        timeline.take(f, [&](const Settings& s, unsigned changed) {
            out.push_back({f, s.spreadDb, changed});
        });
    return out;
}

void Expect(const std::vector<Taken>& got, const std::vector<Taken>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].frame, want[i].frame) << i;
        EXPECT_EQ(got[i].spread, want[i].spread) << i;
        EXPECT_EQ(got[i].changed, want[i].changed) << i;
    }
}

const unsigned kSpread = Bit(Parameter::kSpread);
const unsigned kMode = Bit(Parameter::kMode);

TEST(SettingsTimeline, eachChangeIsTakenAtItsFrameWithWhatItChanges) {
    // Settings noted again unchanged wait for nothing.
    Expect(Timeline({{Settings(), 0}, {Settings(), 5}}, 10), {});
    // Two changes, each against the one before it.
    Expect(Timeline({{Spread(-6), 2}, {Spread(-6, false), 7}}, 10), {{2, -6, kSpread}, {7, -6, kMode}});
    // Two blocks at one frame: the later holds, compared with what the
    // engines had.
    Expect(Timeline({{Spread(-6), 3}, {Spread(-9, false), 3}}, 10), {{3, -9, kSpread | kMode}});
    // A change undone at the same frame is no change.
    Expect(Timeline({{Spread(-6), 3}, {Settings(), 3}}, 10), {});
    // Full: the newest gives way, and the one that replaces it carries what
    // it changes from the change before.
    Expect(Timeline<2>({{Spread(-3), 1}, {Spread(-6), 2}, {Spread(-3, false), 3}}, 10),
           {{1, -3, kSpread}, {3, -3, kMode}});
}

}  // namespace

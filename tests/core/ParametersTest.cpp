// The parameter table and what is keyed by it: Settings::get/set and
// Processor::set reach each control, and only it.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "Processor.h"

namespace {

using kesta::InfoOf;
using kesta::kParameterCount;
using kesta::Parameter;
using kesta::ParameterInfo;
using kesta::Settings;

Parameter At(int i) {
    return static_cast<Parameter>(i);
}

// A value of p other than its default, within its range.
float Other(Parameter p) {
    const ParameterInfo& info = InfoOf(p);
    return info.fallback == info.maximum ? info.minimum : info.maximum;
}

TEST(Parameters, SymbolsAndSettingsKeysAreUniqueAndDefaultsInRange) {
    std::set<std::string> symbols, keys;
    for (int i = 0; i < kParameterCount; ++i) {
        const ParameterInfo& info = InfoOf(At(i));
        EXPECT_TRUE(symbols.insert(info.symbol).second) << info.symbol;
        EXPECT_TRUE(keys.insert(info.settingsKey).second) << info.settingsKey;
        EXPECT_LE(info.minimum, info.fallback) << info.symbol;
        EXPECT_LE(info.fallback, info.maximum) << info.symbol;
        EXPECT_EQ(Settings().get(At(i)), info.fallback) << info.symbol;
    }
}

TEST(Parameters, SettingsSetChangesItsOwnFieldOnly) {
    for (int i = 0; i < kParameterCount; ++i) {
        Settings s;
        s.set(At(i), Other(At(i)));
        for (int j = 0; j < kParameterCount; ++j)
            EXPECT_EQ(s.get(At(j)), j == i ? Other(At(j)) : InfoOf(At(j)).fallback) << i << " " << j;
        EXPECT_NE(s, Settings()) << i;
        s.set(At(i), NAN);
        EXPECT_EQ(s, Settings()) << "not a number is the default: " << i;
    }
}

TEST(Parameters, ProcessorSetReachesEachSetter) {
    kesta::Processor p;
    for (int i = 0; i < kParameterCount; ++i) {
        Settings want;
        want.set(At(i), Other(At(i)));
        p.setSettings(Settings());
        p.set(At(i), Other(At(i)));
        EXPECT_EQ(p.settings(), want) << InfoOf(At(i)).symbol;
    }
    p.set(Parameter::kSpread, -40.0f);
    EXPECT_EQ(p.settings().spreadDb, kesta::Processor::kMinSpreadDb);
    p.set(Parameter::kMode, 0.4f);
    EXPECT_FALSE(p.settings().music);
    p.set(Parameter::kMode, 0.5f);
    EXPECT_TRUE(p.settings().music);
}

}  // namespace

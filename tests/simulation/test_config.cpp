// Where the history database goes when VISTREL_SIM_DB is not set, and which settings are refused.
#include <gtest/gtest.h>

#include <map>

#include "servers/simulation/engine/config.h"

namespace sim {
namespace {

Config With(std::map<std::string, std::string> env) {
    return Config::FromEnvironment([env = std::move(env)](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    });
}

TEST(Settings, DatabaseDefaultsToThePerUserDataFolder) {
    EXPECT_EQ(With({{"HOME", "/home/ann"}}).dbPath, "/home/ann/.local/share/vistrel/simulation.db");
    EXPECT_EQ(With({{"HOME", "/home/ann"}, {"XDG_DATA_HOME", "/data/ann"}}).dbPath,
              "/data/ann/vistrel/simulation.db");
    // A relative XDG_DATA_HOME is invalid and ignored.
    EXPECT_EQ(With({{"HOME", "/home/ann"}, {"XDG_DATA_HOME", "data"}}).dbPath,
              "/home/ann/.local/share/vistrel/simulation.db");
    EXPECT_EQ(With({{"HOME", "/home/ann"}, {"VISTREL_SIM_DB", "/tmp/x.db"}}).dbPath, "/tmp/x.db");
}

TEST(Settings, NumbersOutsideTheirRangeKeepTheDefault) {
    Config c = With({{"VISTREL_SIM_MAX_VALUES", "0"},
                     {"VISTREL_SIM_MAX_CALL_VALUES", "12x"},
                     {"VISTREL_SIM_CACHE_VALUES", "0"},
                     {"VISTREL_SIM_BUSY_TIMEOUT_MS", "-5"}});
    EXPECT_EQ(c.maxValues, 10'000u);
    EXPECT_EQ(c.maxCallValues, 1'000'000u);
    EXPECT_EQ(c.cacheValues, 0u);  // 0 is allowed: no cache
    EXPECT_EQ(c.busyTimeoutMs, 2000);
    EXPECT_EQ(c.problems.size(), 3u);
    EXPECT_EQ(With({{"VISTREL_SIM_MAX_VALUES", "250"}}).maxValues, 250u);
}

}  // namespace
}  // namespace sim

// Settings of the simulation historian, read from the environment when a server object is made.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace sim {

struct Config {
    // VISTREL_SIM_DB: the history database (a file name, or an SQLite URI such as
    // "file:/path/simulation.db?mode=ro"). Default $XDG_DATA_HOME/vistrel/simulation.db, that is
    // ~/.local/share/vistrel/simulation.db.
    std::string dbPath;
    // VISTREL_SIM_MAX_VALUES: most values returned per item in one call (GetHistorianStatus'
    // dwMaxReturnValues). Default 10,000.
    std::size_t maxValues = 10'000;
    // VISTREL_SIM_MAX_CALL_VALUES: most values one call returns over all its items, which bounds
    // a call's memory. Default 1,000,000.
    std::size_t maxCallValues = 1'000'000;
    // VISTREL_SIM_ITEMS: a file of extra writable items (see AddItemsFromText). Default none.
    std::string itemsFile;
    // VISTREL_SIM_CACHE_VALUES: stored values kept in memory for fast reads. Default 2,000,000;
    // 0 reads every call from the database.
    std::size_t cacheValues = 2'000'000;
    // VISTREL_SIM_BUSY_TIMEOUT_MS: how long a call waits for a database another process holds
    // locked. Default 2,000.
    int busyTimeoutMs = 2000;

    // Settings that were not understood (the default was used instead).
    std::vector<std::string> problems;

    // Reads the settings through `getenv` (std::getenv when empty).
    static Config FromEnvironment(const std::function<const char*(const char*)>& getenv = {});
};

}  // namespace sim

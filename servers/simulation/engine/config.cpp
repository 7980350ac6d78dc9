// Settings from the environment.
#include "servers/simulation/engine/config.h"

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

#include <charconv>
#include <cstdlib>

namespace sim {

namespace {

// A decimal number within [lo, hi]; false for anything else.
bool ParseCount(const char* text, std::size_t lo, std::size_t hi, std::size_t* out) {
    std::string_view s(text);
    if (s.empty()) return false;
    std::size_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || v < lo || v > hi) return false;
    *out = v;
    return true;
}

std::string HomeDirectory(const std::function<const char*(const char*)>& env) {
    if (const char* home = env("HOME"); home && *home) return home;
#ifdef _WIN32
    if (const char* profile = env("USERPROFILE"); profile && *profile) return profile;
    return ".";
#else
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
#endif
}

}  // namespace

Config Config::FromEnvironment(const std::function<const char*(const char*)>& getenvFn) {
    auto env = getenvFn ? getenvFn : [](const char* name) -> const char* { return std::getenv(name); };
    Config c;
    if (const char* db = env("VISTREL_SIM_DB"); db && *db) {
        c.dbPath = db;
#ifdef _WIN32
    } else if (const char* local = env("LOCALAPPDATA"); local && *local) {
        c.dbPath = std::string(local) + "\\vistrel\\simulation.db";
#endif
    } else {
        const char* xdg = env("XDG_DATA_HOME");
        std::string base = (xdg && *xdg == '/') ? std::string(xdg) : HomeDirectory(env) + "/.local/share";
        c.dbPath = base + "/vistrel/simulation.db";
    }
    auto count = [&](const char* name, std::size_t lo, std::size_t hi, std::size_t& field) {
        const char* v = env(name);
        if (!v || !*v) return;
        if (!ParseCount(v, lo, hi, &field))
            c.problems.push_back(std::string(name) + "='" + v + "' is not a number from " +
                                 std::to_string(lo) + " to " + std::to_string(hi) + "; using " +
                                 std::to_string(field));
    };
    count("VISTREL_SIM_MAX_VALUES", 1, 100'000'000, c.maxValues);
    count("VISTREL_SIM_MAX_CALL_VALUES", 1, 1'000'000'000, c.maxCallValues);
    count("VISTREL_SIM_CACHE_VALUES", 0, 1'000'000'000, c.cacheValues);
    std::size_t busy = static_cast<std::size_t>(c.busyTimeoutMs);
    count("VISTREL_SIM_BUSY_TIMEOUT_MS", 0, 600'000, busy);
    c.busyTimeoutMs = static_cast<int>(busy);
    if (const char* items = env("VISTREL_SIM_ITEMS"); items && *items) c.itemsFile = items;
    return c;
}

}  // namespace sim

// Running `vistrel` in-process: a class store of the tests' own with the simulation historian and the
// recording test server, a history database in a temporary folder, a fixed time zone and a fixed "now".
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "com/objbase.h"
#include "com/timeapi.h"
#include "tests/plugins/recording_control.h"
#include "tools/vistrel/vistrel.h"

namespace tooltest {

// 2024-07-01 12:00:00 UTC: summer in Europe/Berlin (UTC+02:00), so that the offset in force now and a
// winter instant's own offset differ.
inline constexpr ULONGLONG kNow = 133643088000000000ULL;
// 2024-01-15 10:00:00 UTC, a winter instant (UTC+01:00 in Berlin).
inline constexpr ULONGLONG kWinter = 133497864000000000ULL;

struct CliResult {
    int code = -1;
    std::string out, err;
};

class CliEnvironment {
public:
    static CliEnvironment& Get() {
        static CliEnvironment env;
        return env;
    }
    const std::string& Dir() const { return m_dir; }

private:
    CliEnvironment() {
        char tmpl[] = "/tmp/vistreltest.XXXXXX";
        const char* p = mkdtemp(tmpl);
        m_dir = p ? p : "/tmp";
        const std::string store = m_dir + "/classes";
        std::filesystem::create_directories(store);
        setenv("VISTREL_CLASS_STORE", store.c_str(), 1);
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
        setenv("VISTREL_SIM_DB", (m_dir + "/history.db").c_str(), 1);
#ifdef SIM_PLUGIN_PATH
        const std::string cmd = std::string("'") + VISTREL_REGSVR_PATH + "' --store '" + store + "' '" +
                                SIM_PLUGIN_PATH + "' >/dev/null 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
#endif
        EXPECT_EQ(hdatest::RegisterRecordingClass(HDATEST_RECORDING_PATH, hdatest::Profile::Full,
                                                  u"HdaTest.Recording.1"),
                  S_OK);
    }
    ~CliEnvironment() {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    std::string m_dir;
};

// One run of the command, as from a shell with stdout not a terminal (CSV by default). COM starts
// afresh each time, as in a new process.
inline CliResult RunCli(const std::vector<std::string>& args, const std::string& input = {}) {
    CliEnvironment::Get();
    com::ResetRuntimeForTests();
    com::SetFixedNow(kNow);
    std::istringstream in(input);
    std::ostringstream out, err;
    CliResult r;
    const long blocks = com::LiveTaskMemBlocks();
    r.code = vistrel::RunVistrel(args, {in, out, err, false});
    // Everything the command and the server allocated across the boundary was released.
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks) << "after vistrel " << (args.empty() ? "" : args[0]);
    r.out = out.str();
    r.err = err.str();
    return r;
}

// The number of lines of a text.
inline std::size_t Lines(const std::string& s) {
    std::size_t n = 0;
    for (char c : s) n += c == '\n';
    return n;
}

}  // namespace tooltest

// --computer: a host on loopback with TLS serving this process's class store; the command gives through
// it what it gives in-process. --isolate: the same from a surrogate process.
#include <gtest/gtest.h>

#include "tests/tools/cli_fixture.h"

#if defined(VISTREL_WITH_REMOTE) && defined(SIM_PLUGIN_PATH)
#include <chrono>
#include <filesystem>
#include <thread>

#include "hda/serverlist.h"
#include "remote/remote.h"

namespace tooltest {
namespace {

class VistrelRemote : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string dir = CliEnvironment::Get().Dir();
        m_hostDir = dir + "/host";
        m_clientDir = dir + "/client";
        std::filesystem::create_directories(m_hostDir);
        std::filesystem::create_directories(m_clientDir);
        std::string error;
        vistrel::remote::Identity client;
        ASSERT_TRUE(vistrel::remote::EnsureIdentity(m_clientDir, "client", &client, &error)) << error;
        ASSERT_TRUE(vistrel::remote::Trust(m_hostDir, client.certPath, &error)) << error;
        setenv("VISTREL_CONFIG_DIR", m_clientDir.c_str(), 1);
        vistrel::remote::HostOptions options;
        options.listen = "127.0.0.1";
        options.port = 0;
        options.configDir = m_hostDir;
        m_host = std::make_unique<vistrel::remote::Host>(options);
        ASSERT_TRUE(m_host->Start(&error)) << error;
        m_computer = "127.0.0.1:" + std::to_string(m_host->Port());
    }
    void TearDown() override {
        m_host.reset();
        unsetenv("VISTREL_CONFIG_DIR");
        std::error_code ec;
        std::filesystem::remove_all(m_hostDir, ec);
        std::filesystem::remove_all(m_clientDir, ec);
    }
    // One run through the host. The host in this process serves the server list as its main() does;
    // it releases the command's objects once their release messages arrive.
    CliResult RunRemote(std::vector<std::string> args) {
        com::ResetRuntimeForTests();
        hda::InstallServerList();
        com::SetFixedNow(kNow);
        args.push_back("--computer");
        args.push_back(m_computer);
        std::istringstream in;
        std::ostringstream out, err;
        const long blocks = com::LiveTaskMemBlocks();
        CliResult r;
        r.code = vistrel::RunVistrel(args, {in, out, err, false});
        for (int i = 0; i < 400 && com::LiveTaskMemBlocks() != blocks; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(com::LiveTaskMemBlocks(), blocks) << "after vistrel " << args[0] << " --computer";
        r.out = WithoutComputer(out.str());
        r.err = err.str();
        return r;
    }
    // The output names the computer where the in-process output names none: a JSON field, a line
    // otherwise.
    std::string WithoutComputer(const std::string& s) const {
        std::string kept, line;
        std::istringstream lines(s);
        const std::string field = "\"computer\":\"" + m_computer + "\",";
        while (std::getline(lines, line)) {
            if (auto at = line.find(field); at != std::string::npos) line.erase(at, field.size());
            if (line.find(m_computer) == std::string::npos) kept += line + "\n";
        }
        return kept;
    }

    std::string m_hostDir, m_clientDir, m_computer;
    std::unique_ptr<vistrel::remote::Host> m_host;
};

TEST_F(VistrelRemote, ServersReadRawAndStatusGiveThroughAHostWhatTheyGiveInProcess) {
    const std::string sim = "Brindlex.OPC.Simulation";
    const std::vector<std::vector<std::string>> commands = {
        {"servers"},
        {"read-raw", "--server", sim, "--start", "2024-01-15T10:00:00Z", "--end", "2024-01-15T10:00:05Z",
         "--max", "100", "--all", "Generated.Waves.Sine", "Generated.Waves.FastSine"},
        {"read-raw", "--server", sim, "--start", "2024-01-15T10:00:00Z", "--end", "2024-01-15T10:00:01Z",
         "--format", "json", "Generated.Waves.FastSine"},
        {"status", "--server", sim},
    };
    for (const auto& args : commands) {
        const CliResult local = RunCli(args);
        const CliResult remote = RunRemote(args);
        EXPECT_EQ(local.code, 0) << args[0] << ": " << local.err;
        EXPECT_EQ(remote.code, local.code) << args[0] << ": " << remote.err;
        EXPECT_FALSE(local.out.empty()) << args[0];
        EXPECT_TRUE(remote.out == local.out) << args[0] << " through the host:\n"
                                             << remote.out.substr(0, 600) << "\nin-process:\n"
                                             << local.out.substr(0, 600);
    }
}

// --isolate: the server runs in a surrogate process (vistrel-host beside the test) and answers the same.
TEST(VistrelIsolate, AServerInASurrogateAnswersAsInProcess) {
    const std::vector<std::string> args = {"read-raw",
                                           "--server",
                                           "Brindlex.OPC.Simulation",
                                           "--start",
                                           "2024-01-15T10:00:00Z",
                                           "--end",
                                           "2024-01-15T10:00:02Z",
                                           "--max",
                                           "50",
                                           "--all",
                                           "Generated.Waves.FastSine"};
    const CliResult local = RunCli(args);
    std::vector<std::string> isolated = args;
    isolated.push_back("--isolate");
    const CliResult surrogate = RunCli(isolated);
    EXPECT_EQ(local.code, 0) << local.err;
    EXPECT_EQ(surrogate.code, 0) << surrogate.err;
    EXPECT_EQ(Lines(local.out), 201u);  // the column names and 200 values
    EXPECT_TRUE(surrogate.out == local.out) << surrogate.out.substr(0, 600);
}

}  // namespace
}  // namespace tooltest
#endif

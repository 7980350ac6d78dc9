// Finding computers: the reached-hosts file, the user's hosts file and DNS-SD, each alone and together;
// and the enumeration that hands them out one entry at a time.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "hda/netbrowse.h"
#include "tests/com/store_fixture.h"

namespace {

using Names = std::vector<std::u16string>;
using vistrel_test::ReadText;
using vistrel_test::ScopedEnv;
using vistrel_test::WriteText;

std::string U8(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

class FindingComputers : public ::testing::Test {
protected:
    void SetUp() override { dir = vistrel_test::MakeTempDir("netbrowse"); }
    void TearDown() override { std::filesystem::remove_all(dir); }

    hda::ComputerSources Sources(const char* reached, const char* hosts, std::optional<Names> dnsSd) {
        hda::ComputerSources s;
        if (reached) WriteText(s.strReachedHostsPath = dir + "/reached-hosts", reached);
        if (hosts) WriteText(s.strHostsPath = dir + "/hosts", hosts);
        if (dnsSd) s.dnsSd = [names = *dnsSd] { return names; };
        return s;
    }
    Names Find(const hda::ComputerSources& s) { return hda::FindComputers(s, diagnostics); }

    std::string dir;
    std::ostringstream diagnostics;
};

TEST_F(FindingComputers, EachSourceAloneAndAllTogetherInSourceOrderEachNameOnce) {
    const char* reached = "plant-db\n10.0.0.7\n";
    const char* hosts = "# my historians\n\n  \\\\Lab-Server   # the lab\nPLANT-DB\nhist.example:5000\r\n";
    const Names dnsSd{u"\\\\zeta.local", u"lab-server", u"alpha.local:4800"};
    struct Case {
        const char* what;
        const char* reached;
        const char* hosts;
        std::optional<Names> dnsSd;
        Names expected;
    } cases[] = {
        {"none", nullptr, nullptr, std::nullopt, {}},
        {"reached", reached, nullptr, std::nullopt, {u"\\\\plant-db", u"\\\\10.0.0.7"}},
        {"hosts",
         nullptr,
         hosts,
         std::nullopt,
         {u"\\\\Lab-Server", u"\\\\PLANT-DB", u"\\\\hist.example:5000"}},
        {"dns-sd", nullptr, nullptr, dnsSd, {u"\\\\zeta.local", u"\\\\lab-server", u"\\\\alpha.local:4800"}},
        {"together",
         reached,
         hosts,
         dnsSd,
         {u"\\\\plant-db", u"\\\\10.0.0.7", u"\\\\Lab-Server", u"\\\\hist.example:5000", u"\\\\zeta.local",
          u"\\\\alpha.local:4800"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Find(Sources(c.reached, c.hosts, c.dnsSd)), c.expected) << c.what;
        EXPECT_EQ(Find(Sources(c.reached, c.hosts, c.dnsSd)), c.expected) << c.what << ", asked again";
    }
    EXPECT_EQ(diagnostics.str(), "");
}

TEST_F(FindingComputers, MissingFilesAreEmptyAndAnUnreadableOneIsReportedAndLeftOut) {
    hda::ComputerSources s = Sources("plant-db\n", nullptr, Names{u"zeta.local"});
    s.strHostsPath = dir + "/no-such-file";
    EXPECT_EQ(Find(s), (Names{u"\\\\plant-db", u"\\\\zeta.local"}));
    EXPECT_EQ(diagnostics.str(), "");

    std::filesystem::create_directory(s.strHostsPath = dir + "/hosts.d");
    EXPECT_EQ(Find(s), (Names{u"\\\\plant-db", u"\\\\zeta.local"}));
    EXPECT_NE(diagnostics.str().find(s.strHostsPath + " cannot be read"), std::string::npos)
        << diagnostics.str();
}

TEST_F(FindingComputers, LinesThatAreNoComputerNameAreReportedAndSkipped) {
    const std::string longName(300, 'h');
    hda::ComputerSources s =
        Sources(nullptr, ("two words\n\\\\\n" + longName + "\nok-host\n").c_str(), std::nullopt);
    EXPECT_EQ(Find(s), (Names{u"\\\\ok-host"}));
    const std::string d = diagnostics.str();
    for (const char* line : {":1:", ":2:", ":3:"})
        EXPECT_NE(d.find(s.strHostsPath + line), std::string::npos) << d;
    EXPECT_EQ(d.find(":4:"), std::string::npos);
}

TEST_F(FindingComputers, AReachedHostIsNotedOnceInAFileMadeOnFirstUse) {
    const std::string path = dir + "/sub/vistrel/reached-hosts";
    EXPECT_TRUE(hda::RememberReachedHost(u"\\\\plant-db", path, diagnostics));
    EXPECT_TRUE(hda::RememberReachedHost(u"192.168.001.005", path, diagnostics));
    EXPECT_TRUE(hda::RememberReachedHost(u"PLANT-DB", path, diagnostics));  // the same computer
    EXPECT_FALSE(hda::RememberReachedHost(u"", path, diagnostics));
    EXPECT_EQ(ReadText(path), "plant-db\n192.168.001.005\n");
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::others_read,
              std::filesystem::perms::none);

    // A directory in the way: refused with a line, nothing else happens.
    EXPECT_FALSE(hda::RememberReachedHost(u"plant-db", dir + "/sub", diagnostics));
    EXPECT_NE(diagnostics.str().find("cannot note plant-db"), std::string::npos) << diagnostics.str();
}

TEST_F(FindingComputers, WithoutAnAvahiDaemonDnsSdFindsNothingAndFailsNothing) {
    // Whether or not the library is there, no daemon answers in the test environment.
    ScopedEnv bus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir + "/no-bus");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(hda::BrowseDnsSd(1000), Names{});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// ---- The enumeration ----

class NetworkEnumeration : public FindingComputers {
protected:
    void TearDown() override {
        hda::SetNetworkSource({});
        FindingComputers::TearDown();
    }
    // Every entry, asked one at a time into a buffer of the given size.
    std::vector<std::pair<DWORD, std::u16string>> EnumerateAll(DWORD dwBytes = 16384,
                                                               DWORD* pLast = nullptr) {
        std::vector<std::pair<DWORD, std::u16string>> got;
        HANDLE h = nullptr;
        EXPECT_EQ(WNetOpenEnumW(RESOURCE_CONTEXT, RESOURCETYPE_ANY, 0, nullptr, &h), NO_ERROR);
        std::vector<NETRESOURCEW> buffer(dwBytes / sizeof(NETRESOURCEW) + 1);
        DWORD rc;
        for (;;) {
            DWORD n = 1, size = dwBytes;
            rc = WNetEnumResourceW(h, &n, buffer.data(), &size);
            if (rc != NO_ERROR) break;
            EXPECT_EQ(n, 1u);
            got.emplace_back(buffer[0].dwDisplayType, buffer[0].lpRemoteName);
        }
        if (pLast) *pLast = rc;
        EXPECT_EQ(WNetCloseEnum(h), NO_ERROR);
        EXPECT_EQ(WNetCloseEnum(h), ERROR_INVALID_HANDLE);
        return got;
    }
};

TEST_F(NetworkEnumeration, HandsOutTheSourcesEntriesOneAtATimeUntilNoMoreItems) {
    hda::SetNetworkSource([](std::vector<hda::NetEntry>* e) {
        *e = {{RESOURCEDISPLAYTYPE_SERVER, u"\\\\a"},
              {RESOURCEDISPLAYTYPE_DOMAIN, u"WORKGROUP"},
              {RESOURCEDISPLAYTYPE_SERVER, u"\\\\" + std::u16string(100, u'b')}};
        return NO_ERROR;
    });
    DWORD last = 0;
    const auto got = EnumerateAll(16384, &last);
    EXPECT_EQ(last, ERROR_NO_MORE_ITEMS);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], std::make_pair(RESOURCEDISPLAYTYPE_SERVER, std::u16string(u"\\\\a")));
    EXPECT_EQ(got[1], std::make_pair(RESOURCEDISPLAYTYPE_DOMAIN, std::u16string(u"WORKGROUP")));
    EXPECT_EQ(got[2].second.size(), 102u);

    // A buffer too small for the next entry says how large it must be.
    EXPECT_TRUE(EnumerateAll(sizeof(NETRESOURCEW) + 4, &last).empty());
    EXPECT_EQ(last, ERROR_MORE_DATA);
}

TEST_F(NetworkEnumeration, AFailingSourceOrAnotherScopeOpensNothing) {
    HANDLE h = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(WNetOpenEnumW(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, nullptr, &h), ERROR_NO_NETWORK);
    EXPECT_EQ(h, nullptr);
    hda::SetNetworkSource([](std::vector<hda::NetEntry>*) { return ERROR_NO_NETWORK; });
    EXPECT_EQ(WNetOpenEnumW(RESOURCE_CONTEXT, RESOURCETYPE_ANY, 0, nullptr, &h), ERROR_NO_NETWORK);
    DWORD n = 1, size = 16;
    NETRESOURCEW r{};
    EXPECT_EQ(WNetEnumResourceW(h, &n, &r, &size), ERROR_INVALID_HANDLE);
}

TEST_F(NetworkEnumeration, TheDefaultSourceReadsTheConfigurationDirectory) {
    ScopedEnv config("VISTREL_CONFIG_DIR", dir),
        bus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir + "/no-bus");
    EXPECT_EQ(hda::ConfigDirectory(), dir);
    WriteText(dir + "/reached-hosts", "plant-db\n");
    WriteText(dir + "/hosts", "lab\nplant-db\n");
    const auto got = EnumerateAll();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(U8(got[0].second), "\\\\plant-db");
    EXPECT_EQ(U8(got[1].second), "\\\\lab");
}

TEST(ConfigDirectory, FollowsTheXdgRules) {
    ScopedEnv v("VISTREL_CONFIG_DIR", std::nullopt), h("HOME", "/home/ann");
    {
        ScopedEnv x("XDG_CONFIG_HOME", "/cfg/ann");
        EXPECT_EQ(hda::ConfigDirectory(), "/cfg/ann/vistrel");
    }
    {
        ScopedEnv x("XDG_CONFIG_HOME", "relative");  // invalid, ignored
        EXPECT_EQ(hda::ConfigDirectory(), "/home/ann/.config/vistrel");
    }
}

}  // namespace

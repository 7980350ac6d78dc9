#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "com/classstore.h"
#include "com/objbase.h"
#include "com/text.h"
#include "hda/opchda.h"
#include "store_fixture.h"

namespace {

using vistrel_test::ReadText;
using vistrel_test::ScopedEnv;
using vistrel_test::StoreTest;
using vistrel_test::WriteText;

class ClassStore : public StoreTest {};

CLSID Clsid(DWORD n) {
    return CLSID{0xC1A55000 + n, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}};
}

com::ClassRegistration Reg(DWORD n, std::u16string progId,
                           std::string library = "/opt/servers/libserver.so") {
    com::ClassRegistration r;
    r.clsid = Clsid(n);
    r.progId = progId;
    r.versionIndependentProgId = progId.substr(0, progId.rfind(u'.'));
    r.description = u"Server " + progId;
    r.libraryPath = library;
    r.categories = {CATID_OPCHDAServer10};
    return r;
}

std::vector<std::u16string> ProgIds(const std::vector<com::ClassRegistration>& list) {
    std::vector<std::u16string> out;
    for (const auto& r : list) out.push_back(r.progId);
    return out;
}

TEST_F(ClassStore, AnEntryComesBackAsItWasWritten) {
    com::ClassRegistration r = Reg(1, u"Vendor.Historian.1");
    r.description = u"Temp\u00E9rature \\ back\nslash\r and \U0001F600";
    r.categories.push_back(IID_IOPCHDA_Server);
    ASSERT_EQ(com::RegisterComClass(r), S_OK);
    EXPECT_TRUE(std::filesystem::exists(EntryPath(r.clsid)));
    auto all = com::EnumerateComClasses();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].clsid, r.clsid);
    EXPECT_EQ(all[0].progId, r.progId);
    EXPECT_EQ(all[0].versionIndependentProgId, u"Vendor.Historian");
    EXPECT_EQ(all[0].description, r.description);
    EXPECT_EQ(all[0].libraryPath, r.libraryPath);
    EXPECT_EQ(all[0].categories, r.categories);
}

TEST_F(ClassStore, ProgIdMayBeEmptyAndVeryLong) {
    ASSERT_EQ(com::RegisterComClass(Reg(1, u"")), S_OK);
    std::u16string longId(100000, u'P');
    ASSERT_EQ(com::RegisterComClass(Reg(2, longId)), S_OK);
    auto all = com::EnumerateComClasses();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].progId, u"");
    EXPECT_EQ(all[1].progId, longId);
    CLSID found{};
    EXPECT_EQ(CLSIDFromProgID(longId.c_str(), &found), S_OK);
    EXPECT_EQ(found, Clsid(2));
}

TEST_F(ClassStore, RelativeLibraryPathsAreStoredAbsolute) {
    ASSERT_EQ(com::RegisterComClass(Reg(1, u"A.B.1", "lib/../libx.so")), S_OK);
    auto all = com::EnumerateComClasses();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].libraryPath, (std::filesystem::current_path() / "libx.so").string());
}

TEST_F(ClassStore, OrderIsFirstRegistrationAndSurvivesReRegistration) {
    // CLSIDs chosen so that their text order differs from the registration order.
    ASSERT_EQ(com::RegisterComClass(Reg(3, u"C.C.1")), S_OK);
    ASSERT_EQ(com::RegisterComClass(Reg(1, u"A.A.1")), S_OK);
    ASSERT_EQ(com::RegisterComClass(Reg(2, u"B.B.1")), S_OK);
    EXPECT_EQ(ProgIds(com::EnumerateComClasses()),
              (std::vector<std::u16string>{u"C.C.1", u"A.A.1", u"B.B.1"}));

    com::ClassRegistration again = Reg(3, u"C.C.2");
    ASSERT_EQ(com::RegisterComClass(again), S_OK);
    EXPECT_EQ(ProgIds(com::EnumerateComClasses()),
              (std::vector<std::u16string>{u"C.C.2", u"A.A.1", u"B.B.1"}));

    EXPECT_EQ(com::UnregisterComClass(Clsid(3)), S_OK);
    EXPECT_EQ(com::UnregisterComClass(Clsid(3)), S_FALSE);
    ASSERT_EQ(com::RegisterComClass(Reg(3, u"C.C.3")), S_OK);
    EXPECT_EQ(ProgIds(com::EnumerateComClasses()),
              (std::vector<std::u16string>{u"A.A.1", u"B.B.1", u"C.C.3"}));
}

TEST_F(ClassStore, RewritingReplacesTheFileWholeAndLeavesNoTemporaryFiles) {
    ASSERT_EQ(com::RegisterComClass(Reg(1, u"A.A.1")), S_OK);
    struct stat before {};
    ASSERT_EQ(stat(EntryPath(Clsid(1)).c_str(), &before), 0);
    ASSERT_EQ(com::RegisterComClass(Reg(1, u"A.A.2")), S_OK);
    struct stat after {};
    ASSERT_EQ(stat(EntryPath(Clsid(1)).c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "an entry is replaced by rename, never rewritten in place";
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(m_dir)) {
        ++files;
        EXPECT_EQ(e.path().extension(), ".class") << e.path();
    }
    EXPECT_EQ(files, 1);
}

TEST_F(ClassStore, ReadersNeverSeeATornEntryWhileItIsRewritten) {
    const std::u16string shortText = u"short";
    const std::u16string longText(20000, u'L');  // several writes' worth of bytes
    com::ClassRegistration r = Reg(1, u"A.A.1");
    r.description = shortText;
    ASSERT_EQ(com::RegisterComClass(r), S_OK);
    std::atomic<bool> done{false};
    std::atomic<int> writeFailures{0};
    std::thread writer([&] {
        for (int i = 0; i < 40; ++i) {
            com::ClassRegistration w = r;
            w.description = (i % 2) ? shortText : longText;
            if (com::RegisterComClass(w) != S_OK) ++writeFailures;
        }
        done = true;
    });
    int reads = 0;
    testing::internal::CaptureStderr();
    while (!done || reads < 50) {
        auto all = com::EnumerateComClasses();
        ASSERT_EQ(all.size(), 1u);
        ASSERT_TRUE(all[0].description == shortText || all[0].description == longText);
        ++reads;
    }
    writer.join();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(writeFailures, 0);
}

TEST_F(ClassStore, MalformedEntriesAreSkippedWithOneDiagnosticEach) {
    ASSERT_EQ(com::RegisterComClass(Reg(1, u"Good.One.1")), S_OK);
    const std::string lib = "library=/x/lib.so\n";
    auto entry = [&](DWORD n) { return EntryPath(Clsid(n)); };
    auto clsidLine = [](DWORD n) { return "clsid=" + com::GuidToUtf8(Clsid(n)) + "\n"; };
    WriteText(entry(2), clsidLine(2) + "this line has no equals sign\n" + lib);
    WriteText(entry(3), "clsid={not-a-guid}\n" + lib);
    WriteText(entry(4), clsidLine(5) + lib);  // names another class than its file
    WriteText(entry(6), clsidLine(6) + "library=relative/lib.so\n");
    WriteText(entry(7), clsidLine(7) + "progid=bad\\escape\n" + lib);
    WriteText(entry(8), clsidLine(8) + "progid=\xC3\x28\n" + lib);  // invalid UTF-8
    WriteText(entry(9), clsidLine(9) + "progid=A\nprogid=B\n" + lib);
    WriteText(entry(10), clsidLine(10));  // no library
    WriteText(entry(11), "");
    WriteText(entry(12), clsidLine(12) + lib + "category=nonsense\n");
    WriteText(entry(13), clsidLine(13) + lib + "order=12abc\n");

    testing::internal::CaptureStderr();
    auto all = com::EnumerateComClasses();
    std::string diagnostics = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ProgIds(all), (std::vector<std::u16string>{u"Good.One.1"}));
    for (DWORD n : {2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13})
        EXPECT_NE(diagnostics.find("skipping malformed entry '" + entry(n) + "'"), std::string::npos) << n;

    // Unchanged files are not diagnosed again; lookups still work around them.
    testing::internal::CaptureStderr();
    CLSID found{};
    EXPECT_EQ(CLSIDFromProgID(u"Good.One.1", &found), S_OK);
    EXPECT_EQ(found, Clsid(1));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(ClassStore, HandWrittenEntriesAreReadLeniently) {
    // CRLF line ends, comments, unknown keys, no order: accepted; unordered entries follow ordered ones.
    WriteText(EntryPath(Clsid(1)),
              "# by hand\r\nclsid=" + com::GuidToUtf8(Clsid(1)) +
                  "\r\nprogid=Hand.Written.1\r\nfuture=whatever\r\nlibrary=/x/lib.so\r\n");
    ASSERT_EQ(com::RegisterComClass(Reg(2, u"Tool.Written.1")), S_OK);
    WriteText(m_dir + "/.hidden.class", "garbage");   // temporary files are never read
    WriteText(m_dir + "/notes.txt", "not an entry");  // nor other files
    testing::internal::CaptureStderr();
    auto all = com::EnumerateComClasses();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(ProgIds(all), (std::vector<std::u16string>{u"Tool.Written.1", u"Hand.Written.1"}));
}

TEST_F(ClassStore, ChangesOnDiskAreSeenByTheNextLookup) {
    ASSERT_EQ(com::RegisterComClass(Reg(1, u"First.Name.1")), S_OK);
    CLSID found{};
    ASSERT_EQ(CLSIDFromProgID(u"First.Name.1", &found), S_OK);
    ASSERT_EQ(com::RegisterComClass(Reg(1, u"Second.Name.1")), S_OK);
    EXPECT_EQ(CLSIDFromProgID(u"First.Name.1", &found), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(u"Second.Name.1", &found), S_OK);
    std::filesystem::remove(EntryPath(Clsid(1)));
    EXPECT_EQ(CLSIDFromProgID(u"Second.Name.1", &found), CO_E_CLASSSTRING);
}

TEST_F(ClassStore, RefusesEntriesItCouldNotStoreFaithfully) {
    EXPECT_EQ(com::RegisterComClass(Reg(0, u"X.Y.1")), S_OK);  // Clsid(0) is not null
    com::ClassRegistration r = Reg(1, u"X.Y.1");
    r.clsid = CLSID_NULL;
    EXPECT_EQ(com::RegisterComClass(r), E_INVALIDARG);
    r = Reg(1, std::u16string(u"Nul\0Inside", 10));
    EXPECT_EQ(com::RegisterComClass(r), E_INVALIDARG);
    r = Reg(1, u"Lone\xD800Surrogate");
    EXPECT_EQ(com::RegisterComClass(r), E_INVALIDARG);
    r = Reg(1, u"No.Library.1", "");
    EXPECT_EQ(com::RegisterComClass(r), E_INVALIDARG) << "no library and no registration context";
    EXPECT_FALSE(std::filesystem::exists(EntryPath(Clsid(1))));
}

TEST_F(ClassStore, UnwritableStoreIsAccessDenied) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
    std::string ro = m_dir + "/readonly";
    std::filesystem::create_directory(ro);
    chmod(ro.c_str(), 0500);
    ScopedEnv env("VISTREL_CLASS_STORE", ro);
    EXPECT_EQ(com::RegisterComClass(Reg(1, u"A.B.1")), E_ACCESSDENIED);
    chmod(ro.c_str(), 0700);
}

TEST_F(ClassStore, StoreThatCannotBeMadeIsAWriteFailure) {
    WriteText(m_dir + "/plainfile", "x");
    ScopedEnv env("VISTREL_CLASS_STORE", m_dir + "/plainfile/classes");
    EXPECT_EQ(com::RegisterComClass(Reg(1, u"A.B.1")), REGDB_E_WRITEREGDB);
    EXPECT_TRUE(com::EnumerateComClasses().empty());
    ScopedEnv none("VISTREL_CLASS_STORE", std::nullopt), noHome("HOME", std::nullopt),
        noXdg("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(com::ClassStoreDirectory(com::StoreScope::User), "");
    EXPECT_EQ(com::RegisterComClass(Reg(1, u"A.B.1")), REGDB_E_WRITEREGDB) << "no user scope without HOME";
}

TEST_F(ClassStore, EnvironmentDirectoryIsTheOnlyScopeWhenSet) {
    std::string home = m_dir + "/home", system = m_dir + "/system";
    ScopedEnv h("HOME", home), x("XDG_DATA_HOME", std::nullopt), s("VISTREL_SYSTEM_CLASS_STORE", system);
    EXPECT_EQ(com::ClassStoreDirectory(com::StoreScope::User), home + "/.local/share/vistrel/classes");
    EXPECT_EQ(com::ClassStoreDirectory(com::StoreScope::System), system);
    EXPECT_EQ(com::ClassStoreDirectory(com::StoreScope::Default), m_dir);

    com::SetRegistrationContext(com::StoreScope::User, "/x/user.so");
    ASSERT_EQ(com::RegisterComClass(Reg(1, u"In.User.1", "")), S_OK);
    com::ClearRegistrationContext();
    EXPECT_TRUE(std::filesystem::exists(com::ClassStoreDirectory(com::StoreScope::User) + "/" +
                                        com::GuidToUtf8(Clsid(1)) + ".class"));
    ASSERT_EQ(com::RegisterComClass(Reg(2, u"In.Env.1")), S_OK);
    EXPECT_EQ(ProgIds(com::EnumerateComClasses()), (std::vector<std::u16string>{u"In.Env.1"}));
    EXPECT_EQ(ProgIds(com::EnumerateComClasses(com::StoreScope::User)),
              (std::vector<std::u16string>{u"In.User.1"}));
}

TEST_F(ClassStore, UserScopeHidesTheSystemScope) {
    std::string data = m_dir + "/data", system = m_dir + "/system";
    ScopedEnv e("VISTREL_CLASS_STORE", std::nullopt), x("XDG_DATA_HOME", data),
        s("VISTREL_SYSTEM_CLASS_STORE", system);
    EXPECT_EQ(com::ClassStoreDirectory(com::StoreScope::User), data + "/vistrel/classes");
    EXPECT_EQ(com::ClassStoreDirectory(com::StoreScope::Default), data + "/vistrel/classes");

    com::SetRegistrationContext(com::StoreScope::System, "/x/system.so");
    ASSERT_EQ(com::RegisterComClass(Reg(1, u"Shared.Class.1", "")), S_OK);
    ASSERT_EQ(com::RegisterComClass(Reg(2, u"System.Only.1", "")), S_OK);
    com::ClearRegistrationContext();
    ASSERT_EQ(com::RegisterComClass(Reg(1, u"Shared.Class.2", "/x/user.so")),
              S_OK);  // default: the user scope
    ASSERT_EQ(com::RegisterComClass(Reg(3, u"User.Only.1", "/x/user.so")), S_OK);

    auto all = com::EnumerateComClasses();
    EXPECT_EQ(ProgIds(all),
              (std::vector<std::u16string>{u"Shared.Class.2", u"User.Only.1", u"System.Only.1"}));
    EXPECT_EQ(all[0].libraryPath, "/x/user.so");
    EXPECT_EQ(all[2].libraryPath, "/x/system.so");
    EXPECT_EQ(com::EnumerateComClasses(com::StoreScope::System).size(), 2u);

    // Unregistering from the user scope uncovers the system's entry.
    ASSERT_EQ(com::UnregisterComClass(Clsid(1)), S_OK);
    CLSID found{};
    EXPECT_EQ(CLSIDFromProgID(u"Shared.Class.1", &found), S_OK);
}

TEST_F(ClassStore, ModulePathOfFindsTheRuntimeLibrary) {
    std::string path = com::ModulePathOf(reinterpret_cast<const void*>(&CoTaskMemAlloc));
    EXPECT_EQ(std::filesystem::path(path).filename(), "libvistrelcom.so");
    EXPECT_TRUE(std::filesystem::path(path).is_absolute());
    std::string exe = com::ModulePathOf(reinterpret_cast<const void*>(&ProgIds));
    EXPECT_TRUE(std::filesystem::equivalent(exe, "/proc/self/exe"));
}

}  // namespace

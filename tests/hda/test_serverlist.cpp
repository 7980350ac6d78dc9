// This computer's OPC server-list service, as the HDA layer installs it in the runtime.
#include <gtest/gtest.h>

#include "com/objbase.h"
#include "com/text.h"
#include "hda/opchda.h"
#include "hda/serverlist.h"
#include "tests/com/store_fixture.h"
#include "tests/plugins/recording_control.h"

namespace {

using namespace hdatest;

class ServerList : public vistrel_test::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        hda::InstallServerList();
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        m_blocks = com::LiveTaskMemBlocks();
    }
    void TearDown() override {
        EXPECT_EQ(com::LiveTaskMemBlocks(), m_blocks) << "task memory leaked";
        CoUninitialize();
        StoreTest::TearDown();
    }
    // The service as the client reaches it: by CoCreateInstanceEx, for the computer given.
    com::ComPtr<IOPCServerList> Create(const char16_t* computer) {
        std::u16string name = computer;
        COSERVERINFO info{0, name.data(), nullptr, 0};
        MULTI_QI qi{&IID_IOPCServerList, nullptr, E_FAIL};
        EXPECT_EQ(CoCreateInstanceEx(CLSID_OpcServerList, nullptr, CLSCTX_ALL, &info, 1, &qi), S_OK);
        EXPECT_EQ(qi.hr, S_OK);
        return com::ComPtr<IOPCServerList>::Attach(static_cast<IOPCServerList*>(qi.pItf));
    }
    long m_blocks = 0;
};

TEST_F(ServerList, AnswersFromTheLocalStore) {
    RegisterRecordingProfiles(HDATEST_RECORDING_PATH);
    for (const char16_t* computer : {u"", u"localhost"}) {
        auto list = Create(computer);
        ASSERT_TRUE(list) << com::Utf16ToUtf8(computer);

        CLSID c{};
        EXPECT_EQ(list->CLSIDFromProgID(u"HdaTest.NoSyncRead.1", &c), S_OK);
        EXPECT_EQ(c, CLSID_HdaTestNoSyncRead);
        EXPECT_EQ(list->CLSIDFromProgID(u"Unknown.Server.1", &c), CO_E_CLASSSTRING);
        EXPECT_EQ(list->CLSIDFromProgID(u"HdaTest.NoSyncRead.1", nullptr), E_INVALIDARG);

        LPOLESTR progId = nullptr, userType = nullptr;
        ASSERT_EQ(list->GetClassDetails(CLSID_HdaTestNoAsync, &progId, &userType), S_OK);
        EXPECT_EQ(std::u16string(progId), u"HdaTest.NoAsync.1");
        EXPECT_EQ(std::u16string(userType), u"HDA Vistrel recording test server");
        CoTaskMemFree(progId);
        CoTaskMemFree(userType);
        EXPECT_EQ(list->GetClassDetails(CLSID_OpcServerList, &progId, &userType), REGDB_E_CLASSNOTREG);
        EXPECT_EQ(progId, nullptr);
        EXPECT_EQ(userType, nullptr);
        EXPECT_EQ(list->GetClassDetails(CLSID_HdaTestNoAsync, nullptr, &userType), E_INVALIDARG);
        EXPECT_EQ(userType, nullptr);

        CATID hda = CATID_OPCHDAServer10;
        com::ComPtr<IEnumGUID> e;
        ASSERT_EQ(list->EnumClassesOfCategories(1, &hda, 0, nullptr, e.ReleaseAndGetAddressOf()), S_OK);
        CLSID found[8];
        ULONG n = 0;
        EXPECT_EQ(e->Next(8, found, &n), S_FALSE);
        EXPECT_EQ(n, 5u);
        EXPECT_EQ(found[0], CLSID_HdaTestRecording);
        EXPECT_EQ(list->EnumClassesOfCategories(1, &hda, 0, nullptr, nullptr), E_INVALIDARG);
    }
}

TEST_F(ServerList, InstallingAgainChangesNothingAndTheResetRemovesIt) {
    hda::InstallServerList();
    EXPECT_TRUE(Create(u""));
    CoUninitialize();
    com::ResetRuntimeForTests();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_OpcServerList, nullptr, CLSCTX_ALL, IID_IOPCServerList, &p),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(p, nullptr);
}

}  // namespace

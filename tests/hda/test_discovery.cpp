// Joining COM and listing the HDA servers registered on this computer.
#include <gtest/gtest.h>

#include "com/objbase.h"
#include "hda/discovery.h"
#include "tests/com/store_fixture.h"
#include "tests/plugins/recording_control.h"
#include "tests/serverpane/message_recorder.h"

namespace {

using namespace hdatest;
using Texts = std::vector<std::u16string>;
const std::string kRecording = HDATEST_RECORDING_PATH;

class Discovery : public vistrel_test::StoreTest {
protected:
    bool Discover() {
        const long blocks = com::LiveTaskMemBlocks();
        bool init = hda::InitComAndDiscoverServers(&messages,
                                                   [this](const std::u16string& s) { entries.push_back(s); });
        EXPECT_EQ(com::LiveTaskMemBlocks(), blocks) << "a ProgID was not freed";
        return init;
    }
    MessageRecorder messages;
    Texts entries;
};

TEST_F(Discovery, NoRegisteredServerGivesNoEntryAndNoMessage) {
    EXPECT_TRUE(Discover());
    EXPECT_TRUE(entries.empty());
    EXPECT_TRUE(messages.seen.empty());
    // The process's security is fixed as the client needs it.
    const com::SecuritySettings sec = com::CurrentSecurity();
    EXPECT_TRUE(sec.fixed);
    EXPECT_EQ(sec.authnLevel, RPC_C_AUTHN_LEVEL_CONNECT);
    EXPECT_EQ(sec.impLevel, RPC_C_IMP_LEVEL_IDENTIFY);
    EXPECT_EQ(sec.capabilities, DWORD(EOAC_NONE));
    CoUninitialize();
}

TEST_F(Discovery, ServersAreListedInTheStoresOrderAndOthersLeftOut) {
    ASSERT_EQ(RegisterRecordingClass(kRecording, Profile::NoAsync, u"HdaTest.NoAsync.1"), S_OK);
    ASSERT_EQ(RegisterRecordingClass(kRecording, Profile::Full, u"Not.An.Hda.Server.1", 1, false), S_OK);
    ASSERT_EQ(RegisterRecordingClass(kRecording, Profile::Full, u"HdaTest.Recording.1"), S_OK);
    EXPECT_TRUE(Discover());
    EXPECT_EQ(entries, (Texts{u"HdaTest.NoAsync.1", u"HdaTest.Recording.1"}));
    EXPECT_TRUE(messages.seen.empty());
    CoUninitialize();
}

TEST_F(Discovery, AClassWithoutAProgIdIsReportedWithItsData1AndTheOthersListed) {
    ASSERT_EQ(RegisterRecordingClass(kRecording, Profile::Full, u"HdaTest.Recording.1"), S_OK);
    ASSERT_EQ(RegisterRecordingClass(kRecording, Profile::NoAsync, u""), S_OK);
    ASSERT_EQ(RegisterRecordingClass(kRecording, Profile::NoSyncRead, u"HdaTest.NoSyncRead.1"), S_OK);
    EXPECT_TRUE(Discover());
    EXPECT_EQ(entries, (Texts{u"HdaTest.Recording.1", u"HdaTest.NoSyncRead.1"}));
    ASSERT_EQ(messages.seen.size(), 1u);
    const std::u16string& text = messages.seen[0].text;
    const std::u16string prefix = u"Error from ProgIDFromCLSID : 0x";
    const std::u16string suffix = u" (CLSID = 0x6D0C4E10)";
    ASSERT_GT(text.size(), prefix.size() + suffix.size()) << U8(text);
    EXPECT_EQ(text.substr(0, prefix.size()), prefix) << U8(text);
    EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix) << U8(text);
    EXPECT_EQ(messages.seen[0].caption, u"Oops !");
    EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::None);
    EXPECT_EQ(messages.seen[0].buttons, hda::MsgButtons::Ok);
    EXPECT_EQ(messages.seen[0].owner, &messages);
    CoUninitialize();
}

TEST_F(Discovery, SecurityAlreadyFixedGivesItsMessageAndNoList) {
    ASSERT_EQ(RegisterRecordingProfiles(kRecording), S_OK);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    ASSERT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                                   RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr),
              S_OK);
    EXPECT_TRUE(Discover());  // COM itself works
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(messages.Texts(), (Texts{u"Error from CoInitializeSecurity: 0x80010119."}));
    EXPECT_EQ(messages.seen[0].caption, u"Oops !");
    CoUninitialize();
    CoUninitialize();
}

TEST_F(Discovery, ATheadInAnotherApartmentGetsTheInitialisationMessageAndNothingElse) {
    ASSERT_EQ(RegisterRecordingProfiles(kRecording), S_OK);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_FALSE(Discover());  // nothing to balance
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(messages.Texts(), (Texts{u"Error from CoInitialize: 0x80010106."}));
    EXPECT_FALSE(com::CurrentSecurity().fixed);
    CoUninitialize();
}

}  // namespace

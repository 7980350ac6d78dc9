// Connecting: the fixed limits of the connection sequence.
#include <gtest/gtest.h>

#include "com/objbase.h"
#include "tests/hda/fake_owner.h"
#include "tests/serverpane/message_recorder.h"

namespace {

class ConnectLimits : public ::testing::Test {
protected:
    void SetUp() override {
        com::ResetRuntimeForTests();
        ASSERT_GE(CoInitializeEx(nullptr, COINIT_MULTITHREADED), 0);
    }
    void TearDown() override { CoUninitialize(); }
    FakeOwner owner;
    MessageRecorder messages;
};

TEST_F(ConnectLimits, AComputerNameOfEightyCharactersIsRefusedWithAClearMessage) {
    const std::u16string name(80, u'h');
    CHDAServer server(&owner);
    EXPECT_FALSE(server.Connect(name, u"Some.Server"));
    EXPECT_EQ(server.m_pServer, nullptr);
    ASSERT_EQ(messages.seen.size(), 1u);
    const hda::MessageRequest& m = messages.seen[0];
    EXPECT_EQ(m.caption, u"Error");
    EXPECT_EQ(m.icon, hda::MsgIcon::Stop);
    EXPECT_EQ(m.owner, &owner);
    EXPECT_EQ(m.text, u"The computer name '" + std::u16string(79, u'h') +
                          u"...' is too long: it has 80 characters, at most 79 are allowed.");
}

TEST_F(ConnectLimits, AHugeComputerNameIsRefusedWithoutAHugeMessage) {
    const std::u16string name(100000, u'x');
    CHDAServer server(&owner);
    EXPECT_FALSE(server.Connect(name, u"Some.Server"));
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_LT(messages.seen[0].text.size(), 200u);
}

TEST_F(ConnectLimits, SeventyNineCharactersPassTheLimitAndFailOnlyAsAConnection) {
    const std::u16string name(79, u'h');
    CHDAServer server(&owner);
    EXPECT_FALSE(server.Connect(name, u"Not.Registered.Anywhere"));
    ASSERT_EQ(messages.seen.size(), 1u);
    const std::u16string prefix = u"Connect to '" + name + u" - Not.Registered.Anywhere' failed : Return Code =  ";
    EXPECT_EQ(messages.seen[0].text.substr(0, prefix.size()), prefix) << U8(messages.seen[0].text);
    EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Stop);
}

TEST_F(ConnectLimits, AnUnregisteredLocalProgIdGivesOneConnectMessage) {
    CHDAServer server(&owner);
    EXPECT_FALSE(server.Connect(u"", u"Not.Registered.Anywhere"));
    ASSERT_EQ(messages.seen.size(), 1u);
    const std::u16string prefix = u"Connect to 'Not.Registered.Anywhere' failed Return Code = ";
    EXPECT_EQ(messages.seen[0].text.substr(0, prefix.size()), prefix) << U8(messages.seen[0].text);
    EXPECT_EQ(messages.seen[0].caption, u"Error");
}

}  // namespace

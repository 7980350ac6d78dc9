// Server Status in the client core: the one call, the texts of the boxes, and answers whose blocks
// are shorter than what they stand for (a time of 4 or 0 bytes, strings without a terminator): each is
// read only within what the server allocated, marked in its box and named in one message.
#include "client/status.h"
#include "tests/client/client_fixture.h"

namespace {

using namespace clienttest;

class Status : public ClientTest {};

std::vector<std::u16string> Boxes(const client::StatusTexts& t) {
    return {t.serverStatus, t.statusString, t.currentTime, t.startTime,      t.majorVersion,
            t.minorVersion, t.buildNumber,  t.vendorInfo,  t.maxReturnValues};
}

TEST_F(Status, OneCallAndEveryOutInItsBox) {
    const client::ServerStatus status = client::GetHistorianStatus(server.Get());
    EXPECT_EQ(OnlyCallTo("IOPCHDA_Server::GetHistorianStatus").nullArgs, std::vector<std::string>{});
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);  // every block read and released at once
    const client::StatusTexts texts = client::FormatServerStatus(status, client::TimeBasis::Utc);
    EXPECT_EQ(Boxes(texts),
              (std::vector<std::u16string>{u"The historian is running", u"Running", u"02/24/09 13:05:07",
                                           u"02/23/09 13:05:07", u"1", u"20", u"7",
                                           u"HDA Vistrel recording test server", u"1000"}));
    EXPECT_TRUE(texts.problems.empty());
    EXPECT_EQ(client::StatusProblemsMessage(texts), std::nullopt);
    // The default basis is the local time with the offset in force now (UTC+1).
    EXPECT_EQ(client::FormatServerStatus(status).currentTime, u"02/24/09 14:05:07");
}

TEST_F(Status, BlocksShorterThanTheirContentAreReadWithinThemAndNamed) {
    struct Case {
        DWORD misbehaviour;
        std::vector<std::u16string> boxes;
        std::vector<std::u16string> problems;
    } cases[] = {
        {hdatest::kMisbehaveShortTimes,
         {u"The historian is running", u"Running", u"(not a time: 4 of 8 bytes)",
          u"(not a time: 0 of 8 bytes)", u"1", u"20", u"7", u"HDA Vistrel recording test server", u"1000"},
         {u"The server's current time is a block of 4 bytes, too short for a time (8 bytes).",
          u"The server's start time is a block of 0 bytes, too short for a time (8 bytes)."}},
        {hdatest::kMisbehaveUnterminatedStrings,
         {u"The historian is running", u"Running (not terminated)", u"02/24/09 13:05:07",
          u"02/23/09 13:05:07", u"1", u"20", u"7", u"HDA Vistrel recording test server (not terminated)",
          u"1000"},
         {u"The server's status string has no terminator within its block of 14 bytes.",
          u"The server's vendor information has no terminator within its block of 66 bytes."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.misbehaviour);
        (*control)->SetMisbehaviour(c.misbehaviour);
        const client::ServerStatus status = client::GetHistorianStatus(server.Get());
        EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);
        const client::StatusTexts texts = client::FormatServerStatus(status, client::TimeBasis::Utc);
        EXPECT_EQ(Boxes(texts), c.boxes);
        EXPECT_EQ(texts.problems, c.problems);
        const std::optional<client::Message> message = client::StatusProblemsMessage(texts);
        ASSERT_TRUE(message);
        EXPECT_EQ(message->text,
                  u"GetHistorianStatus answered with blocks that do not hold what they should:\n" +
                      c.problems[0] + u"\n" + c.problems[1]);
        EXPECT_EQ(message->caption, u"Error");
        EXPECT_EQ(message->icon, hda::MsgIcon::Exclamation);
    }
}

TEST_F(Status, AFailureOrNoServerLeavesEveryBoxEmpty) {
    Hooks().GetHistorianStatus = [](OPCHDA_SERVERSTATUS* s, FILETIME** c, FILETIME**, WORD* ma, WORD*, WORD*,
                                    DWORD*, LPWSTR* ss, LPWSTR*) {
        *s = OPCHDA_UP;
        *ma = 9;
        *c = hdatest::TaskBlock<FILETIME>(3);
        *ss = hdatest::UnterminatedTaskString(u"half");
        return E_FAIL;
    };
    client::ServerStatus status = client::GetHistorianStatus(server.Get());
    EXPECT_EQ(status.message->text, u"Unable to get status: GetHistorianStatus returns 80004005");
    EXPECT_EQ(Boxes(client::FormatServerStatus(status)), std::vector<std::u16string>(9));
    EXPECT_TRUE(client::FormatServerStatus(status).problems.empty());
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);

    status = client::GetHistorianStatus(nullptr);
    EXPECT_FALSE(status.called);
    EXPECT_EQ(status.message->text, u"Unable to get status: the server is not connected");
}

TEST(StatusTime, FormsAtTheEdges) {
    com::SetFixedBiasMinutes(0);
    auto shown = [](ULONGLONG t) { return client::FormatShortTimestamp(U64ToFileTime(t)); };
    EXPECT_EQ(shown(Ticks(1900, 1, 1, 0, 0, 0)), u"01/01/00 00:00:00");
    EXPECT_EQ(shown(Ticks(2038, 1, 19, 3, 14, 8, 999)), u"01/19/38 03:14:08");  // past 32-bit time_t
    EXPECT_EQ(shown(Ticks(1899, 12, 31, 23, 59, 59)).rfind(u"Invalid time 0x", 0), 0u);
    EXPECT_EQ(shown(0xFFFFFFFFFFFFFFFFULL), u"Invalid time 0xFFFFFFFFFFFFFFFF");
    // A UTC time in 1900 that is local 1899 is before 1900 where it is shown.
    com::SetFixedBiasMinutes(60);
    EXPECT_EQ(shown(Ticks(1900, 1, 1, 0, 30, 0)).rfind(u"Invalid time 0x", 0), 0u);
    com::ResetClock();
}

}  // namespace

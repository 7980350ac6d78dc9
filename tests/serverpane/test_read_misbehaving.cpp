// Reads against a server that answers wrongly, as the window shows them: arrays missing or too short,
// counts larger than the arrays. Nothing may crash or read past an array (the sanitizer build checks),
// the user sees what can be shown, and nothing the server handed over stays allocated. What the client
// core does with such answers is tested with it (tests/client).
#include "dialogs/readattributedlg.h"
#include "outputpane/valuerows.h"
#include "tests/serverpane/read_fixture.h"

namespace {

using namespace readtest;
using hdatest::MakeItem;
using hdatest::TaskArray;

const QString kNotReturned = QString::fromUtf16(CValueTabRows::kNotReturned);
const QString kNoResult = QString::fromUtf16(COutputPane::kNoResultForItem);

using ReadRawAnswer = std::function<HRESULT(DWORD dwNumItems, OPCHDA_ITEM** ppValues, HRESULT** ppErrors)>;

class MisbehavingServer : public ReadTest {
protected:
    void SetUp() override {
        ReadTest::SetUp();
        Connect(0, {u"A", u"B", u"C"});
    }
    void Answer(ReadRawAnswer answer) {
        Hooks().ReadRaw = [answer](OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD dwNum, OPCHANDLE*,
                                   OPCHDA_ITEM** ppValues,
                                   HRESULT** ppErrors) { return answer(dwNum, ppValues, ppErrors); };
    }
    QList<QStringList> TabRowsOf(int tab) {
        PickTab(tab);
        return TabRows();
    }
};

TEST_F(MisbehavingServer, SuccessWithoutOneOfTheArraysIsReportedAndKeepsTheOldTabs) {
    ClickRows({u"A", u"B"});
    ReadRaw();
    ASSERT_EQ(TabCaptions(), (QStringList{"A", "B"}));
    ClickRows({u"C"});
    const long baseline = com::LiveTaskMemBlocks() - (2 + 2 * 3);  // less the result set on screen

    // Every case of the message is the client core's (client_tests); here, what the window does.
    struct Case {
        bool values, errors;
        std::u16string text;
    } cases[] = {
        {true, false,
         u"ReadRaw returned 0x0 but no result codes: the server sent nothing that can be shown."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(U8(c.text));
        Answer([c](DWORD n, OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
            if (c.values) {
                *ppValues = TaskArray<OPCHDA_ITEM>(n);
                for (DWORD i = 0; i < n; ++i) (*ppValues)[i] = MakeItem(i, 2);
            }
            if (c.errors) *ppErrors = TaskArray<HRESULT>(n);
            return S_OK;
        });
        messages.seen.clear();
        ReadRaw();
        ASSERT_EQ(messages.Texts(), (Texts{c.text}));
        EXPECT_EQ(messages.seen[0].caption, u"Error");
        EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Exclamation);
        EXPECT_EQ(TabCaptions(), (QStringList{"A", "B"}));
        EXPECT_EQ(pane->GetLastItemValues(), nullptr);
        EXPECT_EQ(pane->GetLastErrors(), nullptr);
        EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
    }
}

TEST_F(MisbehavingServer, FewerRecordsThanItemsShowWhatCameAndSayWhatDidNot) {
    ClickRows({u"A", u"B", u"C"});
    Answer([](DWORD, OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
        *ppValues = TaskArray<OPCHDA_ITEM>(1);
        (*ppValues)[0] = MakeItem(1, 2, hdatest::kStatusNowTicks, 7.5);
        *ppErrors = TaskArray<HRESULT>({S_OK, S_OK});
        return S_OK;
    });
    const long baseline = com::LiveTaskMemBlocks();
    ReadRaw();
    EXPECT_EQ(TabCaptions(), (QStringList{"A", "B", "C"}));
    EXPECT_EQ(ResultLabel(), "OK (returned 2 items)");
    EXPECT_EQ(TabRows().size(), 2);
    EXPECT_EQ(TabRowsOf(1), QList<QStringList>{});
    EXPECT_EQ(ResultLabel(), kNoResult);
    PickTab(2);
    EXPECT_EQ(ResultLabel(), kNoResult);
    EXPECT_TRUE(messages.seen.empty());
    pane->ReleaseLastResults();
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
}

TEST_F(MisbehavingServer, CountsLargerThanTheArraysAndMissingArraysShowAsNotReturned) {
    ClickRows({u"A", u"B"});
    Answer([](DWORD, OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
        *ppValues = TaskArray<OPCHDA_ITEM>(2);
        // Five values claimed, two of each array allocated.
        (*ppValues)[0] = MakeItem(1, 2, hdatest::kStatusNowTicks, 1);
        (*ppValues)[0].dwCount = 5;
        // Values without timestamps or qualities.
        (*ppValues)[1] = MakeItem(2, 2, hdatest::kStatusNowTicks, 3);
        CoTaskMemFree(std::exchange((*ppValues)[1].pftTimeStamps, nullptr));
        CoTaskMemFree(std::exchange((*ppValues)[1].pdwQualities, nullptr));
        *ppErrors = TaskArray<HRESULT>({S_OK, static_cast<HRESULT>(OPC_S_MOREDATA)});
        return S_OK;
    });
    const long baseline = com::LiveTaskMemBlocks();
    ReadRaw();
    const QString t0 = "2009/02/24 14:05:07.250", t1 = "2009/02/24 14:05:08.250";
    const QString good = "Good, Non-specific : Raw";
    EXPECT_EQ(ResultLabel(), "OK (returned 5 items)");
    EXPECT_EQ(TabRows(), (QList<QStringList>{{"1", t0, good},
                                             {"2", t1, good},
                                             {kNotReturned, kNotReturned, kNotReturned},
                                             {kNotReturned, kNotReturned, kNotReturned},
                                             {kNotReturned, kNotReturned, kNotReturned}}));
    EXPECT_EQ(TabRowsOf(1),
              (QList<QStringList>{{"3", kNotReturned, kNotReturned}, {"4", kNotReturned, kNotReturned}}));
    EXPECT_EQ(ResultLabel(), "More Data Exists (returned 2 items)");
    pane->ReleaseLastResults();
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
}

TEST_F(MisbehavingServer, MemoryRunningOutForTheTimesIsSaidAndKeepsTheOldTabs) {
    ClickRows({u"A"});
    ReadRaw();
    ASSERT_EQ(TabCaptions(), (QStringList{"A"}));
    ClickRows({u"B"});
    (*control)->ClearCalls();
    const long baseline = com::LiveTaskMemBlocks() - (2 + 3);  // less the result set the read releases
    messages.seen.clear();
    // The record of the end time, after the dialog closed.
    Arm<CReadRawDlg>([](CReadRawDlg& d) {
        com::FailTaskMemAlloc(2);
        Press(&d, IDOK);
    });
    pane->OnReadRaw();
    com::ResetTaskMemFailure();
    ASSERT_EQ(messages.Texts(), (Texts{u"Out of Memory!!!"}));
    EXPECT_EQ(messages.seen[0].caption, u"Error");
    EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Exclamation);
    EXPECT_TRUE(CallsTo("IOPCHDA_SyncRead::ReadRaw").empty());
    EXPECT_EQ(TabCaptions(), (QStringList{"A"}));
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
}

// ---- Read Attribute ----

class MisbehavingAttributes : public MisbehavingServer {
protected:
    void SetUp() override {
        MisbehavingServer::SetUp();
        ClickRows({u"B"});
        // Attributes 5 (without a name) and 6.
        Hooks().GetItemAttributes = [](DWORD* pdwCount, DWORD** ppIds, LPWSTR** ppNames, LPWSTR** ppDescs,
                                       VARTYPE** ppTypes) {
            *pdwCount = 2;
            *ppIds = TaskArray<DWORD>({5, 6});
            *ppNames = TaskArray<LPWSTR>({nullptr, hdatest::TaskString(u"Six")});
            *ppDescs = TaskArray<LPWSTR>(2);
            *ppTypes = TaskArray<VARTYPE>(2);
            return S_OK;
        };
    }
    void ReadAttribute() {
        Arm<CReadAttributeDlg>([](CReadAttributeDlg& d) { Press(&d, IDOK); });
        pane->OnReadAttribute();
    }
};

TEST_F(MisbehavingAttributes, ShortAnswersShowWhatCameAndNameTheRest) {
    Hooks().ReadAttribute = [](OPCHDA_TIME*, OPCHDA_TIME*, OPCHANDLE, DWORD, DWORD*,
                               OPCHDA_ATTRIBUTE** ppValues, HRESULT** ppErrors) {
        // One record for two ids: three values claimed, one timestamp and no value array.
        *ppValues = TaskArray<OPCHDA_ATTRIBUTE>(1);
        (*ppValues)[0].dwAttributeID = 5;
        (*ppValues)[0].dwNumValues = 3;
        (*ppValues)[0].ftTimeStamps = TaskArray<FILETIME>({U64ToFileTime(hdatest::kStatusNowTicks)});
        *ppErrors = nullptr;
        return S_OK;
    };
    const long baseline = com::LiveTaskMemBlocks();
    ReadAttribute();
    EXPECT_EQ(ResultRows(), (QList<QStringList>{{"(no name, ID 5)", kNotReturned, "2009/02/24 14:05:07.250"},
                                                {"Six", kNotReturned, kNotReturned}}));
    EXPECT_TRUE(messages.seen.empty());
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
}

}  // namespace

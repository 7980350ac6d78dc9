// The four history reads against the recording test server: the exact arguments of each call, what
// the output pane shows, the frame around the call (cursor, result set, messages) and what is left
// allocated afterwards.
#include <QComboBox>

#include "dialogs/readattimedlg.h"
#include "dialogs/readattributedlg.h"
#include "dialogs/readprocesseddlg.h"
#include "tests/serverpane/read_fixture.h"

namespace {

using namespace readtest;
using hdatest::RecordedCall;
using hdatest::RecordedTime;

// Local 2009/02/24 10:00:00.250 and 11:30:00.000 in UTC+1.
const ULONGLONG kStartUtc = Ticks(2009, 2, 24, 9, 0, 0, 250);
const ULONGLONG kEndUtc = Ticks(2009, 2, 24, 10, 30, 0);

void FillRange(QWidget* d) {
    SetMoment(d, IDC_START_DATE, IDC_START_TIME, IDC_START_MS, QDate(2009, 2, 24), QTime(10, 0, 0), 250);
    SetMoment(d, IDC_END_DATE, IDC_END_TIME, IDC_END_MS, QDate(2009, 2, 24), QTime(11, 30, 0), 0);
}

::testing::AssertionResult IsMoment(const std::optional<RecordedTime>& t, ULONGLONG utc) {
    if (!t) return ::testing::AssertionFailure() << "no record";
    if (t->bString || !t->szTimeNull || t->ftTime != utc)
        return ::testing::AssertionFailure() << "bString " << t->bString << ", szTime null " << t->szTimeNull
                                             << ", ftTime " << t->ftTime << " (wanted " << utc << ")";
    return ::testing::AssertionSuccess();
}
::testing::AssertionResult IsString(const std::optional<RecordedTime>& t, const std::u16string& text) {
    if (!t) return ::testing::AssertionFailure() << "no record";
    if (!t->bString || t->szTimeNull || t->szTime != text)
        return ::testing::AssertionFailure() << "bString " << t->bString << ", szTime null " << t->szTimeNull
                                             << ", szTime \"" << U8(t->szTime) << "\"";
    return ::testing::AssertionSuccess();
}

class ReadArguments : public ReadTest {};

TEST_F(ReadArguments, ReadRawSendsTheTimesAsTheBoxesSayWithTheHandlesInListOrder) {
    Connect(0, {u"Plant.Area1.Temperature", u"Plant.Area1.Pressure", u"Plant.Area2.Flow", u"Plant.Status"});
    // The list is sorted; clicked in another order.
    ClickRows({u"Plant.Status", u"Plant.Area1.Temperature", u"Plant.Area1.Pressure"});
    const std::vector<OPCHANDLE> listOrder =
        Handles({u"Plant.Area1.Pressure", u"Plant.Area1.Temperature", u"Plant.Status"});

    struct Case {
        bool useStart, useEnd;
        const char* max;
        bool bounds;
    } cases[] = {{true, true, "0", true}, {false, true, "5", false}, {true, false, "4294967295", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "start " << c.useStart << " end " << c.useEnd << " max " << c.max);
        (*control)->ClearCalls();
        ReadRaw([&](CReadRawDlg& d) {
            FillRange(&d);
            dlg::GetDlgItem<QCheckBox>(&d, IDC_USE_START_TIME)->setChecked(c.useStart);
            dlg::GetDlgItem<QCheckBox>(&d, IDC_USE_END_TIME)->setChecked(c.useEnd);
            dlg::GetDlgItem<QCheckBox>(&d, IDC_GET_BOUNDS)->setChecked(c.bounds);
            dlg::GetDlgItem<QLineEdit>(&d, IDC_MAX_VALUES)->setText(QString::fromLatin1(c.max));
        });
        const auto calls = CallsTo("IOPCHDA_SyncRead::ReadRaw");
        ASSERT_EQ(calls.size(), 1u);
        const RecordedCall& call = calls[0];
        // A time not in use travels as an empty string, never as a null one.
        EXPECT_TRUE(c.useStart ? IsMoment(call.start, kStartUtc) : IsString(call.start, u""));
        EXPECT_TRUE(c.useEnd ? IsMoment(call.end, kEndUtc) : IsString(call.end, u""));
        EXPECT_EQ(call.numValues, std::stoul(c.max));
        EXPECT_EQ(call.bounds, c.bounds ? TRUE : FALSE);
        EXPECT_EQ(call.count, 3u);
        EXPECT_EQ(call.serverHandles, listOrder);
        EXPECT_TRUE(call.nullArgs.empty());
    }
    EXPECT_TRUE(messages.seen.empty());
    // Read Raw is the one read that does not ask for the interface again: the connection holds it.
    EXPECT_TRUE(CallsTo("IUnknown::QueryInterface").empty());
}

TEST_F(ReadArguments, ReadRawShowsOneTabPerItemInListOrderAndKeepsTheResultSet) {
    Connect(0, {u"Plant.Area1.Temperature", u"Plant.Area1.Pressure", u"Plant.Area2.Flow"});
    ClickRows({u"Plant.Area2.Flow", u"Plant.Area1.Temperature", u"Plant.Area1.Pressure"});
    ReadRaw([](CReadRawDlg& d) { FillRange(&d); });

    EXPECT_EQ(TabCaptions(),
              (QStringList{"Plant.Area1.Pressure", "Plant.Area1.Temperature", "Plant.Area2.Flow"}));
    ASSERT_NE(pane->GetLastItemValues(), nullptr);
    ASSERT_NE(pane->GetLastErrors(), nullptr);
    EXPECT_EQ(pane->GetLastResultCount(), 3u);
    // The server's default answer: one value at the start, ten times the item's handle.
    EXPECT_EQ(ResultLabel(), "OK (returned 1 items)");
    const QString start = "2009/02/24 10:00:00.250";
    EXPECT_EQ(TabRows(), (QList<QStringList>{{QString::number(10 * handleOf[u"Plant.Area1.Pressure"]), start,
                                              "Good, Non-specific : Raw"}}));
    PickTab(2);
    EXPECT_EQ(TabRows(), (QList<QStringList>{{QString::number(10 * handleOf[u"Plant.Area2.Flow"]), start,
                                              "Good, Non-specific : Raw"}}));
}

TEST_F(ReadArguments, TheWaitCursorIsUpDuringTheCallAndTheNormalOneOverTheDialog) {
    Connect(0, {u"Plant.Status"});
    ClickRows({u"Plant.Status"});
    int overDialog = -2, duringCall = -2;
    Hooks().ReadRaw = [&](OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD, OPCHANDLE*, OPCHDA_ITEM**,
                          HRESULT**) {
        duringCall = CursorShape();
        return E_FAIL;
    };
    ReadRaw([&](CReadRawDlg&) { overDialog = CursorShape(); });
    EXPECT_EQ(overDialog, Qt::ArrowCursor);
    EXPECT_EQ(duringCall, Qt::WaitCursor);
    EXPECT_EQ(CursorShape(), -1);  // nothing left over
}

TEST_F(ReadArguments, ACancelledDialogChangesNothing) {
    Connect(0, {u"Plant.Status", u"Sinusoid"});
    ClickRows({u"Plant.Status", u"Sinusoid"});
    ReadRaw();
    const OPCHDA_ITEM* before = pane->GetLastItemValues();
    ASSERT_NE(before, nullptr);
    (*control)->ClearCalls();

    Arm<CReadRawDlg>([](CReadRawDlg& d) { Press(&d, IDCANCEL); });
    pane->OnReadRaw();
    Arm<CReadProcessedDlg>([](CReadProcessedDlg& d) { Press(&d, IDCANCEL); });
    pane->OnReadProcessed();
    Arm<CReadAtTimeDlg>([](CReadAtTimeDlg& d) {
        Press(&d, IDC_ADD_TIMESTAMP);
        Press(&d, IDCANCEL);
    });
    pane->OnReadAtTime();

    EXPECT_EQ(pane->GetLastItemValues(), before);
    EXPECT_EQ(TabCaptions(), (QStringList{"Plant.Status", "Sinusoid"}));
    for (const RecordedCall& c : (*control)->Calls())
        EXPECT_EQ(c.method.rfind("IOPCHDA_SyncRead::", 0), std::string::npos) << c.method;
    EXPECT_EQ(CursorShape(), -1);
}

TEST_F(ReadArguments, AFailingReadLeavesTheOldTabsWithNoResultSetBehindThem) {
    Connect(0, {u"Plant.Status", u"Sinusoid"});
    ClickRows({u"Plant.Status", u"Sinusoid"});
    const long baseline = com::LiveTaskMemBlocks();
    ReadRaw();
    ASSERT_EQ(TabCaptions(), (QStringList{"Plant.Status", "Sinusoid"}));

    // A failing call of each value read, each after a successful Read Raw.
    struct Case {
        std::function<void()> run;
        std::u16string text;
    } cases[] = {
        {[&] {
             Hooks().ReadRaw = [](OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD, OPCHANDLE*, OPCHDA_ITEM**,
                                  HRESULT**) { return static_cast<HRESULT>(OPC_E_MAXEXCEEDED); };
             ReadRaw();
         },
         u"ReadRaw Failed, Function returned: 0xC0041001"},
        {[&] {
             Hooks().ReadProcessed = [](OPCHDA_TIME*, OPCHDA_TIME*, FILETIME, DWORD, OPCHANDLE*, DWORD*,
                                        OPCHDA_ITEM**, HRESULT**) { return E_FAIL; };
             Arm<CReadProcessedDlg>([](CReadProcessedDlg& d) { Press(&d, IDOK); });
             pane->OnReadProcessed();
         },
         u"ReadProcessed Failed, Function returned: 0x80004005"},
        {[&] {
             Hooks().ReadAtTime = [](DWORD, FILETIME*, DWORD, OPCHANDLE*, OPCHDA_ITEM**, HRESULT**) {
                 return E_INVALIDARG;
             };
             Arm<CReadAtTimeDlg>([](CReadAtTimeDlg& d) {
                 Press(&d, IDC_ADD_TIMESTAMP);
                 Press(&d, IDOK);
             });
             pane->OnReadAtTime();
         },
         u"ReadAtTime Failed, Function returned: 0x80070057"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(U8(c.text));
        Hooks() = {};
        ReadRaw();
        ASSERT_NE(pane->GetLastItemValues(), nullptr);
        messages.seen.clear();
        c.run();
        ASSERT_EQ(messages.seen.size(), 1u);
        EXPECT_EQ(messages.seen[0].text, c.text);
        EXPECT_EQ(messages.seen[0].caption, u"Error");
        EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Exclamation);
        EXPECT_EQ(pane->GetLastItemValues(), nullptr);
        EXPECT_EQ(pane->GetLastErrors(), nullptr);
        EXPECT_EQ(TabCaptions(), (QStringList{"Plant.Status", "Sinusoid"}));
        // Picking the other tab reads nothing released: the page is empty.
        PickTab(1);
        EXPECT_TRUE(TabRows().isEmpty());
        EXPECT_EQ(ResultLabel(), "<no label>");
        EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
    }
}

TEST_F(ReadArguments, WithoutSyncReadReadRawEndsQuietlyAndTheOthersReport) {
    Connect(2, {u"Plant.Status"});  // HdaTest.NoSyncRead.1
    ClickRows({u"Plant.Status"});
    const long baseline = com::LiveTaskMemBlocks();
    ReadRaw();
    EXPECT_TRUE(messages.seen.empty());

    Arm<CReadAtTimeDlg>([](CReadAtTimeDlg& d) {
        Press(&d, IDC_ADD_TIMESTAMP);
        Press(&d, IDOK);
    });
    pane->OnReadAtTime();
    Arm<CReadProcessedDlg>([](CReadProcessedDlg& d) { Press(&d, IDOK); });
    pane->OnReadProcessed();
    Arm<CReadAttributeDlg>([](CReadAttributeDlg& d) { Press(&d, IDOK); });
    pane->OnReadAttribute();
    EXPECT_EQ(messages.Texts(), (Texts(3, u"Error getting IOPCHDA_SyncRead pointer: 80004002")));
    for (const auto& m : messages.seen) {
        EXPECT_EQ(m.caption, u"Error");
        EXPECT_EQ(m.icon, hda::MsgIcon::Exclamation);
    }
    EXPECT_EQ(output->GetTabCtrl(), nullptr);
    EXPECT_EQ(output->GetResultList(), nullptr);
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
}

TEST_F(ReadArguments, ReadProcessedSendsOneAggregatePerHandleInListOrder) {
    Connect(0, {u"Plant.Area1.Temperature", u"Plant.Area1.Pressure", u"Plant.Area2.Flow"});
    ClickRows({u"Plant.Area2.Flow", u"Plant.Area1.Pressure", u"Plant.Area1.Temperature"});
    Arm<CReadProcessedDlg>([](CReadProcessedDlg& d) {
        EXPECT_EQ(CursorShape(), Qt::ArrowCursor);
        FillRange(&d);
        // Average for every item, then Maximum for the second one.
        d.m_pAggregateCombo->setCurrentIndex(1);
        Press(&d, IDC_SET_ALL_ITEMS);
        d.m_pItemCombo->setCurrentIndex(1);
        d.m_pAggregateCombo->setCurrentIndex(3);
        Press(&d, IDC_SET_SELECTED_ITEM);
        dlg::GetDlgItem<QLineEdit>(&d, IDC_RESAMPLE_INTERVAL)->setText("3");
        dlg::GetDlgItem<QComboBox>(&d, IDC_RESAMPLE_UNITS)->setCurrentIndex(3);  // Hours
        Press(&d, IDOK);
    });
    const long baseline = com::LiveTaskMemBlocks();
    pane->OnReadProcessed();

    const auto calls = CallsTo("IOPCHDA_SyncRead::ReadProcessed");
    ASSERT_EQ(calls.size(), 1u);
    const RecordedCall& call = calls[0];
    EXPECT_TRUE(IsMoment(call.start, kStartUtc));
    EXPECT_TRUE(IsMoment(call.end, kEndUtc));
    EXPECT_EQ(call.interval, 3 * kHour);
    EXPECT_EQ(call.count, 3u);
    EXPECT_EQ(call.serverHandles,
              Handles({u"Plant.Area1.Pressure", u"Plant.Area1.Temperature", u"Plant.Area2.Flow"}));
    EXPECT_EQ(call.aggregates,
              (std::vector<DWORD>{OPCHDA_AVERAGE, static_cast<DWORD>(OPCHDA_MAXIMUM), OPCHDA_AVERAGE}));
    EXPECT_EQ(pane->m_strCurrentServer, u"HdaTest.Recording.1");
    EXPECT_EQ(TabCaptions(),
              (QStringList{"Plant.Area1.Pressure", "Plant.Area1.Temperature", "Plant.Area2.Flow"}));
    EXPECT_EQ(ResultLabel(), "OK (returned 1 items)");
    EXPECT_TRUE(messages.seen.empty());

    // What is left is the result set on screen: 2 outer arrays and 3 inner ones per item.
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline + 2 + 3 * 3);
    pane->ReleaseLastResults();
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
}

TEST_F(ReadArguments, ReadAtTimeSendsTheMomentsNewestFirst) {
    Connect(0, {u"Plant.Area1.Temperature", u"Plant.Status"});
    ClickRows({u"Plant.Status", u"Plant.Area1.Temperature"});
    Arm<CReadAtTimeDlg>([](CReadAtTimeDlg& d) {
        for (int hour : {10, 11, 12}) {
            SetMoment(&d, IDC_TIMESTAMP_DATE, IDC_TIMESTAMP_TIME, IDC_TIMESTAMP_MS, QDate(2009, 2, 24),
                      QTime(hour, 0, 0), 5);
            Press(&d, IDC_ADD_TIMESTAMP);
        }
        Press(&d, IDOK);
    });
    const long baseline = com::LiveTaskMemBlocks();
    pane->OnReadAtTime();

    const auto calls = CallsTo("IOPCHDA_SyncRead::ReadAtTime");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].numTimeStamps, 3u);
    EXPECT_EQ(calls[0].timestamps,
              (std::vector<ULONGLONG>{Ticks(2009, 2, 24, 11, 0, 0, 5), Ticks(2009, 2, 24, 10, 0, 0, 5),
                                      Ticks(2009, 2, 24, 9, 0, 0, 5)}));
    EXPECT_EQ(calls[0].count, 2u);
    EXPECT_EQ(calls[0].serverHandles, Handles({u"Plant.Area1.Temperature", u"Plant.Status"}));
    EXPECT_EQ(TabCaptions(), (QStringList{"Plant.Area1.Temperature", "Plant.Status"}));
    EXPECT_EQ(ResultLabel(), "OK (returned 3 items)");
    ASSERT_EQ(TabRows().size(), 3);
    EXPECT_EQ(TabRows()[0][1], "2009/02/24 12:00:00.005");
    pane->ReleaseLastResults();
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
}

TEST_F(ReadArguments, ReadAttributeSendsTheTickedIdsInTreeOrderAtNow) {
    Connect(0, {u"Plant.Area1.Temperature", u"Plant.Status"});
    ClickRows({u"Plant.Status", u"Plant.Area1.Temperature"});
    ReadRaw();  // a result set that Read Attribute releases
    ClickRows({u"Plant.Status"});
    (*control)->ClearCalls();
    // Data Type, Description, Eng Units, Item ID: the second is left out.
    Arm<CReadAttributeDlg>([](CReadAttributeDlg& d) {
        EXPECT_EQ(CursorShape(), Qt::ArrowCursor);
        dlg::GetDlgItem<QTreeWidget>(&d, IDC_ATTRIBUTE_TREE)
            ->topLevelItem(1)
            ->setCheckState(0, Qt::Unchecked);
        Press(&d, IDOK);
    });
    const long baseline = com::LiveTaskMemBlocks();
    pane->OnReadAttribute();

    const auto calls = CallsTo("IOPCHDA_SyncRead::ReadAttribute");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(IsString(calls[0].start, u"NOW"));
    EXPECT_TRUE(IsString(calls[0].end, u"NOW"));
    EXPECT_EQ(calls[0].hServer, handleOf[u"Plant.Status"]);
    EXPECT_EQ(calls[0].attributeIds, (std::vector<DWORD>{OPCHDA_DATA_TYPE, OPCHDA_ENG_UNITS, OPCHDA_ITEMID}));

    // The tabs gave way to the attribute list; the server's values are stamped with its "now".
    EXPECT_EQ(output->GetTabCtrl(), nullptr);
    const QString now = "2009/02/24 14:05:07.250";  // kStatusNowTicks in UTC+1
    EXPECT_EQ(ResultRows(),
              (QList<QStringList>{
                  {"Data Type", "5", now}, {"Eng Units", "units", now}, {"Item ID", "Plant.Status", now}}));
    // Nothing stays behind: no result set, no attribute records, no list of the server's attributes.
    EXPECT_EQ(pane->GetLastItemValues(), nullptr);
    EXPECT_EQ(pane->GetLastErrors(), nullptr);
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline - (2 + 2 * 3));  // the released Read Raw result set
    EXPECT_TRUE(messages.seen.empty());
}

TEST_F(ReadArguments, ReadAttributeNamesRowsByTheLastEqualIdAndShowsNoDataAndUnknowns) {
    Connect(0, {u"Plant.Status"});
    ClickRows({u"Plant.Status"});
    Hooks().GetItemAttributes = [](DWORD* pdwCount, DWORD** ppIds, LPWSTR** ppNames, LPWSTR** ppDescs,
                                   VARTYPE** ppTypes) {
        *pdwCount = 4;
        *ppIds = hdatest::TaskArray<DWORD>({1, 2, 3, 2});
        *ppNames =
            hdatest::TaskArray<LPWSTR>({hdatest::TaskString(u"One"), hdatest::TaskString(u"Two"),
                                        hdatest::TaskString(u"Three"), hdatest::TaskString(u"Two again")});
        *ppDescs = hdatest::TaskArray<LPWSTR>(4);
        *ppTypes = hdatest::TaskArray<VARTYPE>(4);
        return S_OK;
    };
    // Answers for 1, 2, 3 (the dialog's ticked ids) the attributes 2 with no value, 99, and 1 with two
    // values of which only the first shows.
    Hooks().ReadAttribute = [](OPCHDA_TIME*, OPCHDA_TIME*, OPCHANDLE, DWORD dwNum, DWORD*,
                               OPCHDA_ATTRIBUTE** ppValues, HRESULT** ppErrors) {
        EXPECT_EQ(dwNum, 4u);
        OPCHDA_ATTRIBUTE* a = hdatest::TaskArray<OPCHDA_ATTRIBUTE>(4);
        a[0].dwAttributeID = 2;
        a[1].dwAttributeID = 99;
        a[1].dwNumValues = 1;
        a[1].ftTimeStamps = hdatest::TaskArray<FILETIME>({U64ToFileTime(hdatest::kStatusNowTicks)});
        a[1].vAttributeValues = hdatest::TaskArray<VARIANT>(1);
        a[1].vAttributeValues[0].vt = VT_I4;
        a[1].vAttributeValues[0].lVal = -7;
        a[2].dwAttributeID = 1;
        a[2].dwNumValues = 2;
        a[2].ftTimeStamps = hdatest::TaskArray<FILETIME>(
            {U64ToFileTime(hdatest::kStatusNowTicks), U64ToFileTime(hdatest::kStatusNowTicks + 1)});
        a[2].vAttributeValues = hdatest::TaskArray<VARIANT>(2);
        a[2].vAttributeValues[0].vt = VT_BSTR;
        a[2].vAttributeValues[0].bstrVal = SysAllocString(u"first");
        a[2].vAttributeValues[1].vt = VT_BSTR;
        a[2].vAttributeValues[1].bstrVal = SysAllocString(u"second");
        a[3].dwAttributeID = 3;
        *ppValues = a;
        *ppErrors = hdatest::TaskArray<HRESULT>(
            {static_cast<HRESULT>(OPC_S_NODATA), static_cast<HRESULT>(OPC_E_INVALIDATTRID), S_OK, S_OK});
        return S_FALSE;
    };
    const long baseline = com::LiveTaskMemBlocks();
    Arm<CReadAttributeDlg>([](CReadAttributeDlg& d) { Press(&d, IDOK); });
    pane->OnReadAttribute();

    EXPECT_EQ(CallsTo("IOPCHDA_SyncRead::ReadAttribute")[0].attributeIds, (std::vector<DWORD>{1, 2, 3, 2}));
    const QString now = "2009/02/24 14:05:07.250";
    EXPECT_EQ(ResultRows(), (QList<QStringList>{{"Two again", "No Data", "No Data"},
                                                {"Unknown Attribute", "-7", now},
                                                {"One", "first", now},
                                                {"Three", "No Data", "No Data"}}));
    EXPECT_TRUE(messages.seen.empty());
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
}

TEST_F(ReadArguments, AFailingReadAttributeReleasesTheListAndTheIds) {
    Connect(0, {u"Plant.Status"});
    ClickRows({u"Plant.Status"});
    ReadRaw();
    Hooks().ReadAttribute = [](OPCHDA_TIME*, OPCHDA_TIME*, OPCHANDLE, DWORD, DWORD*, OPCHDA_ATTRIBUTE**,
                               HRESULT**) { return static_cast<HRESULT>(OPC_E_INVALIDHANDLE); };
    const long baseline = com::LiveTaskMemBlocks();
    Arm<CReadAttributeDlg>([](CReadAttributeDlg& d) { Press(&d, IDOK); });
    pane->OnReadAttribute();
    EXPECT_EQ(messages.Texts(), (Texts{u"ReadAttribute Failed, Function returned: 0xC0040001"}));
    EXPECT_EQ(TabCaptions(), (QStringList{"Plant.Status"}));  // the old tabs stay
    EXPECT_EQ(pane->GetLastItemValues(), nullptr);
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline - (2 + 3));
}

TEST_F(ReadArguments, TheLastResultSetGoesWithThePane) {
    const long before = com::LiveTaskMemBlocks();
    Connect(0, {u"Plant.Status", u"Sinusoid"});
    ClickRows({u"Plant.Status", u"Sinusoid"});
    Hooks().ReadRaw = [](OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD dwNum, OPCHANDLE*,
                         OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
        // Text values: their strings go with the result set too.
        *ppValues = hdatest::TaskArray<OPCHDA_ITEM>(dwNum);
        for (DWORD i = 0; i < dwNum; ++i) {
            (*ppValues)[i] = hdatest::MakeItem(i + 1, 3);
            for (DWORD j = 0; j < 3; ++j) {
                (*ppValues)[i].pvDataValues[j].vt = VT_BSTR;
                (*ppValues)[i].pvDataValues[j].bstrVal = SysAllocString(u"text");
            }
        }
        *ppErrors = hdatest::TaskArray<HRESULT>(dwNum);
        return S_OK;
    };
    ReadRaw();
    ASSERT_NE(pane->GetLastItemValues(), nullptr);
    EXPECT_EQ(TabRows().size(), 3);
    output->SetServerPane(nullptr);
    pane.reset();
    EXPECT_EQ(com::LiveTaskMemBlocks(), before);
}

}  // namespace

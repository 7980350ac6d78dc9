// The five history updates against the recording test server: the exact arrays of each call, the
// result list, the failures and misbehaving answers, and what is left allocated afterwards.
#include "dialogs/datageneratordlg.h"
#include "outputpane/valuerows.h"
#include "tests/serverpane/update_drivers.h"

namespace {

using namespace readtest;
using namespace updatetest;
using hdatest::RecordedCall;

QString Code(HRESULT hr) {
    return COutputPane::FormatResultCode(hr);
}
const QString kNotReturned = QString::fromUtf16(CValueTabRows::kNotReturned);

class UpdateArguments : public ReadTest {
protected:
    // Two items selected; the list is sorted, so Pressure comes before Temperature.
    void ConnectTwo(int entry = 0) {
        Connect(entry, {u"Plant.Area1.Temperature", u"Plant.Area1.Pressure", u"Plant.Area2.Flow"});
        ClickRows({u"Plant.Area1.Temperature", u"Plant.Area1.Pressure"});
        ids = {u"Plant.Area1.Pressure", u"Plant.Area1.Temperature"};
    }
    void Run(int nId) {
        bool ran = false;
        if (nId == ID_FUNCTION_INSERT || nId == ID_FUNCTION_REPLACE || nId == ID_FUNCTION_INSERTREPLACE)
            ArmInsert({{"1", Local(2009, 2, 24, 10, 0, 0)}}, true, nullptr, &ran);
        else if (nId == ID_FUNCTION_DELETERAW)
            ArmDeleteRaw(Local(2009, 2, 24, 10, 0, 0), Local(2009, 2, 24, 11, 0, 0));
        else
            ArmDeleteAtTime({Local(2009, 2, 24, 10, 0, 0)});
        pane->OnCommand(nId);
    }
    QString P() const { return QStringLiteral("Plant.Area1.Pressure"); }
    QString T() const { return QStringLiteral("Plant.Area1.Temperature"); }
    std::vector<std::u16string> ids;
};

TEST_F(UpdateArguments, EachModeSendsOneEntryPerRowAndItemInRowOrderAndListsThem) {
    ConnectTwo();
    const std::vector<OPCHANDLE> h = Handles({u"Plant.Area1.Pressure", u"Plant.Area1.Temperature"});
    struct Case {
        int nId;
        const char* method;
        const char* title;
    } cases[] = {{ID_FUNCTION_INSERT, "IOPCHDA_SyncUpdate::Insert", "Insert"},
                 {ID_FUNCTION_REPLACE, "IOPCHDA_SyncUpdate::Replace", "Replace"},
                 {ID_FUNCTION_INSERTREPLACE, "IOPCHDA_SyncUpdate::InsertReplace", "Insert/Replace"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        (*control)->ClearCalls();
        const long liveBefore = com::LiveTaskMemBlocks();
        QString title;
        // A summer moment entered in winter goes with today's offset (UTC+1), as every other row.
        ArmInsert({{"abc", Local(2009, 7, 1, 10, 0, 0, 500), "Bad"},
                   {"2", Local(2009, 2, 24, 11, 0, 0), "Uncertain"},
                   {"x y", Local(2009, 2, 24, 12, 0, 0, 7), "Good"}},
                  true, &title);
        EXPECT_EQ(CursorShape(), -1);
        pane->OnCommand(c.nId);
        EXPECT_EQ(CursorShape(), -1);  // the wait cursor is gone again
        EXPECT_EQ(title, c.title);

        const auto calls = CallsTo(c.method);
        ASSERT_EQ(calls.size(), 1u);
        const RecordedCall& call = calls[0];
        EXPECT_EQ(call.count, 6u);
        EXPECT_EQ(call.serverHandles, (std::vector<OPCHANDLE>{h[0], h[1], h[0], h[1], h[0], h[1]}));
        const ULONGLONG t1 = Ticks(2009, 2, 24, 11, 0, 0, 7), t2 = Ticks(2009, 2, 24, 10, 0, 0),
                        t3 = Ticks(2009, 7, 1, 9, 0, 0, 500);
        EXPECT_EQ(call.timestamps, (std::vector<ULONGLONG>{t1, t1, t2, t2, t3, t3}));
        EXPECT_EQ(call.qualities, (std::vector<DWORD>{0xC0, 0xC0, 0x40, 0x40, 0x00, 0x00}));
        std::vector<std::u16string> texts;
        for (const auto& v : call.values) {
            EXPECT_EQ(v.vt, VT_BSTR);
            texts.push_back(v.text);
        }
        EXPECT_EQ(texts, (std::vector<std::u16string>{u"x y", u"x y", u"2", u"2", u"abc", u"abc"}));

        COutputList* list = output->GetResultList();
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(Headings(list), QStringList({"Tag", "Value", "Timestamp", "Error Code"}));
        for (int col = 0; col < 4; ++col) EXPECT_EQ(list->GetColumnWidth(col), list->ClientWidth() / 4);
        const QString ok = Code(S_OK);
        EXPECT_EQ(ResultRows(), (QList<QStringList>{{P(), "x y", "2009/02/24 12:00:00.007", ok},
                                                    {T(), "x y", "2009/02/24 12:00:00.007", ok},
                                                    {P(), "2", "2009/02/24 11:00:00.000", ok},
                                                    {T(), "2", "2009/02/24 11:00:00.000", ok},
                                                    {P(), "abc", "2009/07/01 10:00:00.500", ok},
                                                    {T(), "abc", "2009/07/01 10:00:00.500", ok}}));
        // Only the result codes are kept.
        EXPECT_EQ(pane->GetLastItemValues(), nullptr);
        ASSERT_NE(pane->GetLastErrors(), nullptr);
        EXPECT_EQ(pane->GetLastResultCount(), 6u);
        EXPECT_EQ(com::LiveTaskMemBlocks(), liveBefore + 1);
        pane->ReleaseLastResults();
        EXPECT_EQ(com::LiveTaskMemBlocks(), liveBefore);
    }
    EXPECT_TRUE(messages.seen.empty());
}

TEST_F(UpdateArguments, GeneratedRowsGoOutOldestFirstInExact64BitSteps) {
    Connect(0, {u"Plant.Status"});
    ClickRows({u"Plant.Status"});
    // 300 s are 3e9 ticks: three rows span more than 2^32 ticks.
    Arm<CInsertDlg>([](CInsertDlg& d) {
        Arm<CDataGeneratorDlg>([](CDataGeneratorDlg& g) {
            readtest::SetMoment(&g, IDC_GEN_START_DATE, IDC_GEN_START_TIME, IDC_GEN_START_MS,
                                QDate(2009, 2, 24), QTime(10, 0, 0), 500);
            dlg::GetDlgItem<QLineEdit>(&g, IDC_GEN_END_VALUE)->setText("4");
            dlg::GetDlgItem<QLineEdit>(&g, IDC_GEN_TIME_INCREMENT)->setText("300");
            dlg::GetDlgItem<QComboBox>(&g, IDC_GEN_QUALITY)->setCurrentIndex(1);  // Uncertain
            Press(&g, IDC_GENERATE);
            Press(&g, IDOK);
        });
        Press(&d, IDC_DATA_GENERATOR);
        Press(&d, IDOK);
    });
    pane->OnCommand(ID_FUNCTION_INSERT);
    const auto calls = CallsTo("IOPCHDA_SyncUpdate::Insert");
    ASSERT_EQ(calls.size(), 1u);
    const ULONGLONG t0 = Ticks(2009, 2, 24, 9, 0, 0, 500), step = 3000000000ULL;
    EXPECT_EQ(calls[0].timestamps, (std::vector<ULONGLONG>{t0, t0 + step, t0 + 2 * step}));
    EXPECT_EQ(calls[0].qualities, (std::vector<DWORD>{0x40, 0x40, 0x40}));
    std::vector<std::u16string> texts;
    for (const auto& v : calls[0].values) texts.push_back(v.text);
    EXPECT_EQ(texts, (std::vector<std::u16string>{u"1.000000", u"2.000000", u"3.000000"}));
    EXPECT_TRUE(messages.seen.empty());
}

TEST_F(UpdateArguments, DeleteAtTimePairsEveryItemWithEveryMoment) {
    ConnectTwo();
    const std::vector<OPCHANDLE> h = Handles({u"Plant.Area1.Pressure", u"Plant.Area1.Temperature"});
    QString title;
    ArmDeleteAtTime({Local(2009, 2, 24, 10, 0, 0), Local(2009, 2, 24, 11, 0, 0, 250)}, &title);
    pane->OnCommand(ID_FUNCTION_DELETEATTIME);
    EXPECT_EQ(title, "Delete At Time");
    const auto calls = CallsTo("IOPCHDA_SyncUpdate::DeleteAtTime");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].count, 4u);
    EXPECT_EQ(calls[0].serverHandles, (std::vector<OPCHANDLE>{h[0], h[1], h[0], h[1]}));
    const ULONGLONG t1 = Ticks(2009, 2, 24, 10, 0, 0, 250), t2 = Ticks(2009, 2, 24, 9, 0, 0);
    EXPECT_EQ(calls[0].timestamps, (std::vector<ULONGLONG>{t1, t1, t2, t2}));

    COutputList* list = output->GetResultList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Headings(list), QStringList({"Tag", "Timestamp", "Error Code"}));
    for (int col = 0; col < 3; ++col) EXPECT_EQ(list->GetColumnWidth(col), list->ClientWidth() / 3);
    const QString ok = Code(S_OK);
    EXPECT_EQ(ResultRows(), (QList<QStringList>{{P(), "2009/02/24 11:00:00.250", ok},
                                                {T(), "2009/02/24 11:00:00.250", ok},
                                                {P(), "2009/02/24 10:00:00.000", ok},
                                                {T(), "2009/02/24 10:00:00.000", ok}}));
    EXPECT_EQ(pane->GetLastResultCount(), 4u);
    EXPECT_TRUE(messages.seen.empty());
}

TEST_F(UpdateArguments, DeleteRawSendsTheRangeAndShowsTheTimesTheServerWroteBack) {
    ConnectTwo();
    const ULONGLONG kRewritten = hdatest::kStatusNowTicks;
    Hooks().DeleteRaw = [&](OPCHDA_TIME* start, OPCHDA_TIME* end, DWORD n, OPCHANDLE*, HRESULT** ppErrors) {
        start->ftTime = U64ToFileTime(kRewritten);
        end->ftTime = U64ToFileTime(kRewritten + kHour);
        *ppErrors = hdatest::TaskArray<HRESULT>(n);
        (*ppErrors)[1] = OPC_E_NODATAEXISTS;
        return S_FALSE;
    };
    const long liveBefore = com::LiveTaskMemBlocks();
    ArmDeleteRaw(Local(2009, 2, 24, 10, 0, 0, 250), Local(2009, 2, 24, 11, 30, 0));
    pane->OnCommand(ID_FUNCTION_DELETERAW);
    const auto calls = CallsTo("IOPCHDA_SyncUpdate::DeleteRaw");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].count, 2u);
    EXPECT_EQ(calls[0].serverHandles, Handles({u"Plant.Area1.Pressure", u"Plant.Area1.Temperature"}));
    ASSERT_TRUE(calls[0].start && calls[0].end);
    EXPECT_FALSE(calls[0].start->bString);
    EXPECT_EQ(calls[0].start->ftTime, Ticks(2009, 2, 24, 9, 0, 0, 250));
    EXPECT_EQ(calls[0].end->ftTime, Ticks(2009, 2, 24, 10, 30, 0));

    COutputList* list = output->GetResultList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Headings(list), QStringList({"Tag", "Start Time", "End Time", "Error Code"}));
    for (int col = 0; col < 4; ++col) EXPECT_EQ(list->GetColumnWidth(col), list->ClientWidth() / 4);
    EXPECT_EQ(ResultRows(),
              (QList<QStringList>{
                  {P(), "2009/02/24 14:05:07.250", "2009/02/24 15:05:07.250", Code(S_OK)},
                  {T(), "2009/02/24 14:05:07.250", "2009/02/24 15:05:07.250", Code(OPC_E_NODATAEXISTS)}}));
    pane->ReleaseLastResults();
    EXPECT_EQ(com::LiveTaskMemBlocks(), liveBefore);
    EXPECT_TRUE(messages.seen.empty());
}

TEST_F(UpdateArguments, AFailedCallIsReportedReleasesEverythingAndLeavesTheOutputAsItWas) {
    ConnectTwo();
    // Failing calls that leave an array behind anyway: it is released, not shown.
    auto fail = [](DWORD n, HRESULT** ppErrors) {
        *ppErrors = hdatest::TaskArray<HRESULT>(n);
        return E_FAIL;
    };
    hdatest::RecordingHooks::UpdateHook update = [fail](DWORD n, OPCHANDLE*, FILETIME*, VARIANT*, DWORD*,
                                                        HRESULT** e) { return fail(n, e); };
    Hooks().Insert = Hooks().Replace = Hooks().InsertReplace = update;
    Hooks().DeleteRaw = [fail](OPCHDA_TIME*, OPCHDA_TIME*, DWORD n, OPCHANDLE*, HRESULT** e) {
        return fail(n, e);
    };
    Hooks().DeleteAtTime = [fail](DWORD n, OPCHANDLE*, FILETIME*, HRESULT** e) { return fail(n, e); };

    const std::u16string kInsert = u"Insert Failed, Function returned: 0x80004005";
    const std::u16string kDelete = u"Delete Raw Failed, Function returned: 0x80004005";
    const std::pair<int, std::u16string> cases[] = {{ID_FUNCTION_INSERT, kInsert},
                                                    {ID_FUNCTION_REPLACE, kInsert},
                                                    {ID_FUNCTION_INSERTREPLACE, kInsert},
                                                    {ID_FUNCTION_DELETERAW, kDelete},
                                                    {ID_FUNCTION_DELETEATTIME, kDelete}};
    for (const auto& [nId, text] : cases) {
        SCOPED_TRACE(nId);
        // A result list from before, with a result set behind it.
        output->CreateResultList();
        COutputList* before = output->GetResultList();
        before->InsertColumn(0, "Earlier", 50);
        before->InsertItem(0, "row");
        pane->SetLastResults(client::ResultSet(nullptr, hdatest::TaskArray<HRESULT>(1), 1));
        const long liveBefore = com::LiveTaskMemBlocks();
        messages.seen.clear();
        Run(nId);
        ASSERT_EQ(messages.seen.size(), 1u);
        EXPECT_EQ(messages.seen[0].text, text);
        EXPECT_EQ(messages.seen[0].caption, u"Error");
        EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Exclamation);
        EXPECT_EQ(output->GetResultList(), before);
        EXPECT_EQ(ResultRows(), (QList<QStringList>{{"row"}}));
        EXPECT_EQ(pane->GetLastErrors(), nullptr);
        EXPECT_EQ(pane->GetLastItemValues(), nullptr);
        EXPECT_EQ(com::LiveTaskMemBlocks(), liveBefore - 1);  // the earlier codes, and nothing else
    }
}

TEST_F(UpdateArguments, WithoutSyncUpdateEachOperationSaysSoAfterItsDialog) {
    int entry = -1;
    for (int i = 0; i < frame.combo.count(); ++i)
        if (frame.combo.itemText(i) == "HdaTest.NoSyncUpdate.1") entry = i;
    ASSERT_GE(entry, 0);
    hdatest::ScopedControl noSyncUpdate(hdatest::CLSID_HdaTestNoSyncUpdate);
    ConnectTwo(entry);
    noSyncUpdate->ClearCalls();
    for (int nId : {ID_FUNCTION_INSERT, ID_FUNCTION_DELETERAW, ID_FUNCTION_DELETEATTIME}) {
        SCOPED_TRACE(nId);
        messages.seen.clear();
        Run(nId);
        ASSERT_EQ(messages.seen.size(), 1u);
        EXPECT_EQ(messages.seen[0].text, u"Error getting IOPCHDA_SyncUpdate pointer: 80004002");
        EXPECT_EQ(messages.seen[0].caption, u"Error");
        EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Exclamation);
        EXPECT_EQ(output->GetResultList(), nullptr);
    }
    EXPECT_EQ(noSyncUpdate->CallsTo("IUnknown::QueryInterface").size(), 3u);  // asked again each time
}

TEST_F(UpdateArguments, ShortOrMissingCodesAreNeverReadPastAndTheRowsSaySo) {
    ConnectTwo();
    struct Case {
        std::optional<std::vector<HRESULT>> codes;  // nullopt: S_OK with no array at all
        QStringList column;
    } cases[] = {
        {std::nullopt, {kNotReturned, kNotReturned}},
        {std::vector<HRESULT>{OPC_S_INSERTED}, {Code(OPC_S_INSERTED), kNotReturned}},
        {std::vector<HRESULT>{OPC_S_REPLACED, OPC_E_DATAEXISTS},
         {Code(OPC_S_REPLACED), Code(OPC_E_DATAEXISTS)}},
    };
    for (const Case& c : cases) {
        Hooks().InsertReplace = [&](DWORD, OPCHANDLE*, FILETIME*, VARIANT*, DWORD*, HRESULT** ppErrors) {
            *ppErrors = c.codes ? hdatest::TaskArray<HRESULT>(c.codes->size()) : nullptr;
            if (c.codes) std::copy(c.codes->begin(), c.codes->end(), *ppErrors);
            return S_OK;
        };
        Run(ID_FUNCTION_INSERTREPLACE);
        QStringList column;
        for (const QStringList& row : ResultRows()) column << row.value(3);
        EXPECT_EQ(column, c.column);
        EXPECT_EQ(pane->GetLastResultCount(), c.codes ? c.codes->size() : 0u);
    }
    EXPECT_TRUE(messages.seen.empty());
}

TEST_F(UpdateArguments, CancelLeavesTheEarlierResultSetAndCallsNothing) {
    ConnectTwo();
    Run(ID_FUNCTION_INSERT);
    const HRESULT* earlier = pane->GetLastErrors();
    ASSERT_NE(earlier, nullptr);
    (*control)->ClearCalls();
    ArmInsert({{"1", Local(2009, 2, 24, 10, 0, 0)}}, false);
    pane->OnCommand(ID_FUNCTION_REPLACE);
    EXPECT_EQ(pane->GetLastErrors(), earlier);
    EXPECT_TRUE(CallsTo("IOPCHDA_SyncUpdate::Replace").empty());
    EXPECT_EQ(ResultRows().size(), 2);
}

}  // namespace

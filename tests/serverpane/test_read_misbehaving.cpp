// Reads against a server that answers wrongly: arrays missing, too short or too long, counts larger
// than the arrays, values of types outside the table, arrays shared between records, failures that
// still hand arrays back. Nothing may crash or read past an array (the sanitizer build checks), the
// user sees what can be shown, and nothing the server handed over stays allocated.
#include "dialogs/readattimedlg.h"
#include "dialogs/readattributedlg.h"
#include "dialogs/readprocesseddlg.h"
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
    // Read Raw, then the blocks left are only those of the result set on screen: releasing it
    // brings the count back.
    void ReadRawAndExpectOnlyTheResultSetLeft() {
        const long baseline = com::LiveTaskMemBlocks();
        ReadRaw();
        pane->ReleaseLastResults();
        EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
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

    struct Case {
        bool values, errors;
        std::u16string text;
    } cases[] = {
        {false, true, u"ReadRaw returned 0x0 but no values: the server sent nothing that can be shown."},
        {true, false,
         u"ReadRaw returned 0x0 but no result codes: the server sent nothing that can be shown."},
        {false, false,
         u"ReadRaw returned 0x0 but no values and result codes: the server sent nothing that can be shown."},
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

TEST_F(MisbehavingServer, RecordsBeyondTheItemsAreNeitherShownNorTouched) {
    ClickRows({u"A", u"B"});
    Answer([](DWORD n, OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
        *ppValues = TaskArray<OPCHDA_ITEM>(n + 2);
        for (DWORD i = 0; i < n; ++i) (*ppValues)[i] = MakeItem(i, 1);
        // Past the items asked for: pointers that must never be followed or freed.
        for (DWORD i = n; i < n + 2; ++i) {
            (*ppValues)[i].dwCount = 1000;
            (*ppValues)[i].pftTimeStamps = reinterpret_cast<FILETIME*>(0x10);
            (*ppValues)[i].pdwQualities = reinterpret_cast<DWORD*>(0x20);
            (*ppValues)[i].pvDataValues = reinterpret_cast<VARIANT*>(0x30);
        }
        *ppErrors = TaskArray<HRESULT>(n + 2);
        return S_OK;
    });
    ReadRawAndExpectOnlyTheResultSetLeft();
    EXPECT_EQ(TabCaptions(), (QStringList{"A", "B"}));
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

// Counts its references; a VT_UNKNOWN value must be released exactly once with the result set.
class CountedObject : public com::ComObject<IUnknown> {
public:
    static inline int destroyed = 0;
    ~CountedObject() override { ++destroyed; }
};

TEST_F(MisbehavingServer, ValuesOfTypesOutsideTheTableShowAsTheirKindAndAreReleased) {
    ClickRows({u"A"});
    static LONG referenced = 42;
    CountedObject::destroyed = 0;
    Answer([](DWORD, OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
        const VARTYPE types[] = {VT_I8,      VT_DATE,    VT_ERROR, VT_ARRAY | VT_R8, VT_BYREF | VT_I4,
                                 VT_UNKNOWN, VT_DECIMAL, 0x7FFF,   VT_BSTR,          VT_NULL};
        const DWORD n = static_cast<DWORD>(std::size(types));
        *ppValues = TaskArray<OPCHDA_ITEM>(1);
        (*ppValues)[0] = MakeItem(1, n);
        VARIANT* v = (*ppValues)[0].pvDataValues;
        for (DWORD i = 0; i < n; ++i) {
            v[i].vt = types[i];
            v[i].llVal = 0;
        }
        v[0].llVal = 1LL << 40;
        v[4].byref = &referenced;
        v[5].punkVal = new CountedObject;  // the value holds the one reference
        v[8].bstrVal = SysAllocString(u"text");
        *ppErrors = TaskArray<HRESULT>(1);
        return S_OK;
    });
    const long baseline = com::LiveTaskMemBlocks();
    ReadRaw();
    QStringList shown;
    for (const QStringList& row : TabRows()) shown << row[0];
    EXPECT_EQ(shown, (QStringList{"Unknown", "Ack - Date", "Ack - Error value", "Unknown", "Unknown",
                                  "Unknown", "Unknown", "Unknown", "text", "Unknown"}));
    EXPECT_EQ(CountedObject::destroyed, 0);
    pane->ReleaseLastResults();
    EXPECT_EQ(CountedObject::destroyed, 1);
    EXPECT_EQ(referenced, 42);  // a reference is not the value's to free
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
}

TEST_F(MisbehavingServer, ArraysSharedBetweenRecordsAreReleasedOnce) {
    ClickRows({u"A", u"B", u"C"});
    Answer([](DWORD n, OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
        *ppValues = TaskArray<OPCHDA_ITEM>(n);
        (*ppValues)[0] = MakeItem(1, 2);
        (*ppValues)[0].pvDataValues[1].vt = VT_BSTR;
        (*ppValues)[0].pvDataValues[1].bstrVal = SysAllocString(u"shared");
        for (DWORD i = 1; i < n; ++i) (*ppValues)[i] = (*ppValues)[0];
        *ppErrors = TaskArray<HRESULT>(n);
        return S_OK;
    });
    ReadRawAndExpectOnlyTheResultSetLeft();
}

TEST_F(MisbehavingServer, AFailedCallThatStillHandsArraysBackLeavesNothingAllocated) {
    ClickRows({u"A", u"B"});
    Answer([](DWORD n, OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
        *ppValues = TaskArray<OPCHDA_ITEM>(n);
        for (DWORD i = 0; i < n; ++i) (*ppValues)[i] = MakeItem(i, 3);
        *ppErrors = TaskArray<HRESULT>(n);
        return E_OUTOFMEMORY;
    });
    Hooks().ReadAtTime = [](DWORD, FILETIME*, DWORD n, OPCHANDLE*, OPCHDA_ITEM** ppValues,
                            HRESULT** ppErrors) {
        *ppValues = TaskArray<OPCHDA_ITEM>(n);
        for (DWORD i = 0; i < n; ++i) (*ppValues)[i] = MakeItem(i, 1);
        *ppErrors = TaskArray<HRESULT>(n);
        return E_FAIL;
    };
    const long baseline = com::LiveTaskMemBlocks();
    ReadRaw();
    Arm<CReadAtTimeDlg>([](CReadAtTimeDlg& d) {
        Press(&d, IDC_ADD_TIMESTAMP);
        Press(&d, IDOK);
    });
    pane->OnReadAtTime();
    EXPECT_EQ(messages.Texts(), (Texts{u"ReadRaw Failed, Function returned: 0x8007000E",
                                       u"ReadAtTime Failed, Function returned: 0x80004005"}));
    EXPECT_EQ(output->GetTabCtrl(), nullptr);  // nothing was ever shown
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
}

TEST_F(MisbehavingServer, ReadProcessedWithoutValuesIsReportedLikeTheOthers) {
    ClickRows({u"A"});
    Hooks().ReadProcessed = [](OPCHDA_TIME*, OPCHDA_TIME*, FILETIME, DWORD n, OPCHANDLE*, DWORD*,
                               OPCHDA_ITEM**, HRESULT** ppErrors) {
        *ppErrors = TaskArray<HRESULT>(n);
        return S_FALSE;
    };
    const long baseline = com::LiveTaskMemBlocks();
    Arm<CReadProcessedDlg>([](CReadProcessedDlg& d) { Press(&d, IDOK); });
    pane->OnReadProcessed();
    EXPECT_EQ(
        messages.Texts(),
        (Texts{u"ReadProcessed returned 0x1 but no values: the server sent nothing that can be shown."}));
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
}

TEST_F(MisbehavingServer, TimeRecordsRewrittenByTheServerReleaseWhatTheClientAllocated) {
    ClickRows({u"A"});
    static WCHAR serversOwn[] = u"not the client's";
    Hooks().ReadRaw = [](OPCHDA_TIME* start, OPCHDA_TIME* end, DWORD, BOOL, DWORD n, OPCHANDLE*,
                         OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
        // The string record turned into a moment, the moment into a string the server keeps.
        start->bString = FALSE;
        start->szTime = nullptr;
        end->bString = TRUE;
        end->szTime = serversOwn;
        *ppValues = TaskArray<OPCHDA_ITEM>(n);
        *ppErrors = TaskArray<HRESULT>(n);
        return S_OK;
    };
    const long baseline = com::LiveTaskMemBlocks();
    ReadRaw([](CReadRawDlg& d) {
        dlg::GetDlgItem<QCheckBox>(&d, IDC_USE_START_TIME)->setChecked(false);
        dlg::GetDlgItem<QLineEdit>(&d, IDC_MAX_VALUES)->setText("10");
    });
    ASSERT_EQ(CallsTo("IOPCHDA_SyncRead::ReadRaw").size(), 1u);
    EXPECT_TRUE(CallsTo("IOPCHDA_SyncRead::ReadRaw")[0].start->bString);
    pane->ReleaseLastResults();
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
    EXPECT_EQ(serversOwn[0], u'n');
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

TEST_F(MisbehavingAttributes, RecordsBeyondTheIdsAreNotTouched) {
    Hooks().ReadAttribute = [](OPCHDA_TIME*, OPCHDA_TIME*, OPCHANDLE, DWORD n, DWORD* ids,
                               OPCHDA_ATTRIBUTE** ppValues, HRESULT** ppErrors) {
        *ppValues = TaskArray<OPCHDA_ATTRIBUTE>(n + 1);
        for (DWORD i = 0; i < n; ++i) (*ppValues)[i].dwAttributeID = ids[i];
        (*ppValues)[n].dwNumValues = 9;
        (*ppValues)[n].ftTimeStamps = reinterpret_cast<FILETIME*>(0x10);
        (*ppValues)[n].vAttributeValues = reinterpret_cast<VARIANT*>(0x20);
        *ppErrors = TaskArray<HRESULT>(n + 1);
        return S_OK;
    };
    const long baseline = com::LiveTaskMemBlocks();
    ReadAttribute();
    EXPECT_EQ(ResultRows(),
              (QList<QStringList>{{"(no name, ID 5)", "No Data", "No Data"}, {"Six", "No Data", "No Data"}}));
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
}

TEST_F(MisbehavingAttributes, SuccessWithoutRecordsIsReportedAndFailuresReleaseWhatCameBack) {
    ReadRaw();
    ASSERT_EQ(TabCaptions(), (QStringList{"B"}));
    const long baseline = com::LiveTaskMemBlocks() - (2 + 3);
    Hooks().ReadAttribute = [](OPCHDA_TIME*, OPCHDA_TIME*, OPCHANDLE, DWORD n, DWORD*, OPCHDA_ATTRIBUTE**,
                               HRESULT** ppErrors) {
        *ppErrors = TaskArray<HRESULT>(n);
        return S_OK;
    };
    ReadAttribute();
    Hooks().ReadAttribute = [](OPCHDA_TIME*, OPCHDA_TIME*, OPCHANDLE, DWORD n, DWORD*,
                               OPCHDA_ATTRIBUTE** ppValues, HRESULT** ppErrors) {
        *ppValues = TaskArray<OPCHDA_ATTRIBUTE>(n);
        (*ppValues)[0].dwNumValues = 1;
        (*ppValues)[0].ftTimeStamps = TaskArray<FILETIME>(1);
        (*ppValues)[0].vAttributeValues = TaskArray<VARIANT>(1);
        (*ppValues)[0].vAttributeValues[0].vt = VT_BSTR;
        (*ppValues)[0].vAttributeValues[0].bstrVal = SysAllocString(u"left behind");
        *ppErrors = TaskArray<HRESULT>(n);
        return E_FAIL;
    };
    ReadAttribute();
    EXPECT_EQ(
        messages.Texts(),
        (Texts{
            u"ReadAttribute returned 0x0 but no attribute values: the server sent nothing that can be shown.",
            u"ReadAttribute Failed, Function returned: 0x80004005"}));
    EXPECT_EQ(TabCaptions(), (QStringList{"B"}));
    EXPECT_EQ(com::LiveTaskMemBlocks(), baseline);
}

}  // namespace

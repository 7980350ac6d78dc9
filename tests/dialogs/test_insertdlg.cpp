// The Insert dialog and its data generator, driven as a user would.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLineEdit>
#include <QTimeEdit>

#include "dialog_fakes.h"
#include "dialogs/datageneratordlg.h"
#include "dialogs/insertdlg.h"

namespace {

using dlgtest::Press;
using dlgtest::RunModal;

QStringList ListColumn(QWidget* d, int listId, int col) {
    auto* list = dlg::GetDlgItem<dlg::CDataRowList>(d, listId);
    QStringList out;
    for (int r = 0; r < list->model()->rowCount(); ++r) out << list->model()->index(r, col).data().toString();
    return out;
}
QStringList Rows(QWidget* d, int listId) {
    QStringList out;
    const QStringList v = ListColumn(d, listId, 0), t = ListColumn(d, listId, 1),
                      q = ListColumn(d, listId, 2);
    for (int r = 0; r < v.size(); ++r) out << v[r] + " | " + t[r] + " | " + q[r];
    return out;
}
QLineEdit* Edit(QWidget* d, int id) {
    return dlg::GetDlgItem<QLineEdit>(d, id);
}
QComboBox* Combo(QWidget* d, int id) {
    return dlg::GetDlgItem<QComboBox>(d, id);
}

// Acts on the next modal dialog of type D once it shows; cancels it if the action left it open.
template <class D>
void OnNextModal(std::function<void(D&)> act) {
    QTimer::singleShot(0, [act] {
        auto* d = qobject_cast<D*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        act(*d);
        if (d->isVisible()) d->reject();
    });
}

class InsertDlgTest : public dlgtest::DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        FixNow(Ticks(2009, 2, 24, 12, 5, 7), -60);  // 13:05:07 local, UTC+1 (winter)
    }
    // Types a row and presses "Add Data Item".
    static void AddRow(QWidget* d, const QString& value, QDate date, QTime time, const char* ms,
                       const QString& quality) {
        Edit(d, IDC_INSERT_VALUE)->setText(value);
        dlg::GetDlgItem<QDateEdit>(d, IDC_INSERT_DATE)->setDate(date);
        dlg::GetDlgItem<QTimeEdit>(d, IDC_INSERT_TIME)->setTime(time);
        Edit(d, IDC_INSERT_MS)->setText(QString::fromLatin1(ms));
        QComboBox* q = Combo(d, IDC_INSERT_QUALITY);
        const int i = q->findText(quality);
        if (i >= 0) q->setCurrentIndex(i);
        q->setEditText(quality);  // a typed text stands as typed
        Press(d, IDC_ADD_DATA_ITEM);
    }
    // Fills the generator's boxes and presses "Generate".
    static void Generate(QWidget* g, const char* initial, const char* increment, const char* end,
                         const char* timeIncrement = "1", const char* unit = "Seconds") {
        Edit(g, IDC_GEN_INITIAL_VALUE)->setText(initial);
        Edit(g, IDC_GEN_VALUE_INCREMENT)->setText(increment);
        Edit(g, IDC_GEN_END_VALUE)->setText(end);
        Edit(g, IDC_GEN_TIME_INCREMENT)->setText(timeIncrement);
        Combo(g, IDC_GEN_TIME_UNITS)->setEditText(unit);
        Press(g, IDC_GENERATE);
    }
    static void StartAt(QWidget* g, QDate date, QTime time, const char* ms) {
        dlg::GetDlgItem<QDateEdit>(g, IDC_GEN_START_DATE)->setDate(date);
        dlg::GetDlgItem<QTimeEdit>(g, IDC_GEN_START_TIME)->setTime(time);
        Edit(g, IDC_GEN_START_MS)->setText(ms);
    }
};

TEST_F(InsertDlgTest, TheModeNamesTheDialogAndTheBoxesOpenOnNow) {
    struct Case {
        bool replace, insertReplace;
        const char* caption;
    } cases[] = {{false, false, "Insert"},
                 {true, false, "Replace"},
                 {false, true, "Insert/Replace"},
                 {true, true, "Replace"}};
    for (const Case& c : cases) {
        CInsertDlg dlg;
        dlg.m_bReplace = c.replace;
        dlg.m_bInsertReplace = c.insertReplace;
        RunModal<CInsertDlg>(dlg, [&](CInsertDlg& d) {
            EXPECT_EQ(d.windowTitle(), c.caption);
            EXPECT_EQ(dlg::GetDlgItem<QPushButton>(&d, IDOK)->text(), c.caption);
            EXPECT_EQ(Edit(&d, IDC_INSERT_VALUE)->text(), "1");
            EXPECT_EQ(Edit(&d, IDC_INSERT_MS)->text(), "0");
            EXPECT_EQ(dlgtest::Entries(Combo(&d, IDC_INSERT_QUALITY)),
                      QStringList({"Good", "Bad", "Uncertain"}));
            EXPECT_EQ(Combo(&d, IDC_INSERT_QUALITY)->currentText(), "Good");
            auto* list = d.GetDataList();
            const int w = list->ClientWidth();
            EXPECT_EQ(list->header()->sectionSize(0), w / 3);
            EXPECT_EQ(list->header()->sectionSize(1), w / 2);
            EXPECT_EQ(list->header()->sectionSize(2), w / 6);
            Press(&d, IDC_ADD_DATA_ITEM);
            EXPECT_EQ(Rows(&d, IDC_DATA_LIST), QStringList({"1 | 2009/02/24 13:05:07.000 | Good"}));
        });
    }
    ExpectMessages({});
}

TEST_F(InsertDlgTest, RowsBecomeOneEntryPerItemTopRowFirstInUtcOfTodaysBias) {
    CInsertDlg dlg;
    dlg.m_nItemCount = 2;
    QStringList rows;
    ASSERT_EQ(
        RunModal<CInsertDlg>(dlg,
                             [&](CInsertDlg& d) {
                                 // A summer moment, entered in winter: today's bias (UTC+1) applies.
                                 AddRow(&d, "abc", QDate(2009, 7, 1), QTime(10, 0, 0), "500", "Bad");
                                 AddRow(&d, "2.5", QDate(2009, 2, 24), QTime(1, 2, 3), "4", "Uncertain");
                                 AddRow(&d, " x ", QDate(1969, 12, 31), QTime(23, 59, 59), "999", "Good");
                                 rows = Rows(&d, IDC_DATA_LIST);
                                 dlgtest::Shot(&d, "insert");
                                 Press(&d, IDOK);
                             }),
        QDialog::Accepted);
    EXPECT_EQ(rows, QStringList({" x  | 1969/12/31 23:59:59.999 | Good",
                                 "2.5 | 2009/02/24 01:02:03.004 | Uncertain",
                                 "abc | 2009/07/01 10:00:00.500 | Bad"}));
    EXPECT_EQ(dlg.m_nRowCount, 3);
    EXPECT_EQ(dlg.m_values, std::vector<std::u16string>({u" x ", u" x ", u"2.5", u"2.5", u"abc", u"abc"}));
    EXPECT_EQ(dlg.m_qualities, std::vector<DWORD>({0xC0, 0xC0, 0x40, 0x40, 0x00, 0x00}));
    const ULONGLONG t[] = {Ticks(1969, 12, 31, 22, 59, 59, 999), Ticks(2009, 2, 24, 0, 2, 3, 4),
                           Ticks(2009, 7, 1, 9, 0, 0, 500)};
    std::vector<ULONGLONG> stamps;
    for (const FILETIME& ft : dlg.m_timeStamps) stamps.push_back(FileTimeToU64(ft));
    EXPECT_EQ(stamps, std::vector<ULONGLONG>({t[0], t[0], t[1], t[1], t[2], t[2]}));
    ExpectMessages({});
}

TEST_F(InsertDlgTest, QualityTextsAreMappedExactlyTypedOrChosen) {
    EXPECT_EQ(CInsertDlg::QualityOfText(u"Good"), 0xC0u);
    EXPECT_EQ(CInsertDlg::QualityOfText(u"Uncertain"), 0x40u);
    for (const char16_t* other : {u"Bad", u"good", u"Good ", u"", u"UNCERTAIN"})
        EXPECT_EQ(CInsertDlg::QualityOfText(other), 0u)
            << "'" << QString::fromUtf16(other).toStdString() << "'";

    // Typed into the combo without choosing an entry: the text goes through the same table.
    CInsertDlg dlg;
    dlg.m_nItemCount = 1;
    RunModal<CInsertDlg>(dlg, [&](CInsertDlg& d) {
        Combo(&d, IDC_INSERT_QUALITY)->setCurrentIndex(0);
        Combo(&d, IDC_INSERT_QUALITY)->setEditText("Uncertain");
        Press(&d, IDC_ADD_DATA_ITEM);
        Combo(&d, IDC_INSERT_QUALITY)->setEditText("Fair");
        Press(&d, IDC_ADD_DATA_ITEM);
        EXPECT_EQ(ListColumn(&d, IDC_DATA_LIST, 2), QStringList({"Fair", "Uncertain"}));
        Press(&d, IDOK);
    });
    EXPECT_EQ(dlg.m_qualities, std::vector<DWORD>({0x00, 0x40}));
}

TEST_F(InsertDlgTest, NothingIsHandedOverFromAnEmptyListBadMillisecondsOrARowWithoutUtc) {
    CInsertDlg dlg;
    dlg.m_nItemCount = 1;
    const int r = RunModal<CInsertDlg>(dlg, [&](CInsertDlg& d) {
        Press(&d, IDOK);
        ASSERT_EQ(m_messages.size(), 1u);
        EXPECT_EQ(m_messages[0].text, u"There is no data to insert");
        EXPECT_EQ(m_messages[0].caption, u"Error");
        EXPECT_EQ(m_messages[0].icon, hda::MsgIcon::Question);
        m_messages.clear();

        AddRow(&d, "1", QDate(2009, 2, 24), QTime(10, 0, 0), "1000", "Good");  // refused
        EXPECT_TRUE(ListColumn(&d, IDC_DATA_LIST, 0).isEmpty());
        // The first moment the pickers take, in a zone 25 hours east of UTC: no UTC moment.
        com::SetFixedBiasMinutes(-1500);
        AddRow(&d, "1", QDate(1601, 1, 2), QTime(0, 0, 0), "0", "Good");
        Press(&d, IDOK);
        EXPECT_TRUE(d.isVisible());
        EXPECT_TRUE(d.m_values.empty());
    });
    EXPECT_EQ(r, QDialog::Rejected);
    ExpectMessages(
        {u"Please enter a whole number between 0 and 999.",
         u"Row 1: the local time 1601/01/02 00:00:00.000 has no UTC time; the row cannot be written."});
}

TEST_F(InsertDlgTest, RemoveDataTakesEverySelectedRow) {
    CInsertDlg dlg;
    RunModal<CInsertDlg>(dlg, [&](CInsertDlg& d) {
        for (const char* v : {"a", "b", "c", "d"})
            AddRow(&d, v, QDate(2009, 2, 24), QTime(10, 0, 0), "0", "Good");
        auto* list = d.GetDataList();
        list->clearSelection();
        Press(&d, IDC_REMOVE_DATA);
        EXPECT_EQ(ListColumn(&d, IDC_DATA_LIST, 0), QStringList({"d", "c", "b", "a"}));
        for (int row : {0, 2})
            list->selectionModel()->select(list->model()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        Press(&d, IDC_REMOVE_DATA);
        EXPECT_EQ(ListColumn(&d, IDC_DATA_LIST, 0), QStringList({"c", "a"}));
    });
}

// ---- the data generator ----

TEST_F(InsertDlgTest, GeneratorOpensOnItsDefaultsAndRampsNineSecondsOldestFirstIntoTheInsertList) {
    CInsertDlg dlg;
    dlg.m_nItemCount = 1;
    QStringList defaults, generated, inserted;
    RunModal<CInsertDlg>(dlg, [&](CInsertDlg& d) {
        AddRow(&d, "earlier", QDate(2009, 2, 24), QTime(9, 0, 0), "0", "Good");
        OnNextModal<CDataGeneratorDlg>([&](CDataGeneratorDlg& g) {
            for (int id : {IDC_GEN_INITIAL_VALUE, IDC_GEN_VALUE_INCREMENT, IDC_GEN_END_VALUE,
                           IDC_GEN_TIME_INCREMENT, IDC_GEN_START_MS})
                defaults << Edit(&g, id)->text();
            defaults << Combo(&g, IDC_GEN_TIME_UNITS)->currentText()
                     << Combo(&g, IDC_GEN_QUALITY)->currentText()
                     << dlg::GetDlgItem<QDateEdit>(&g, IDC_GEN_START_DATE)->date().toString(Qt::ISODate)
                     << dlg::GetDlgItem<QTimeEdit>(&g, IDC_GEN_START_TIME)->time().toString(Qt::ISODate);
            EXPECT_EQ(dlgtest::Entries(Combo(&g, IDC_GEN_TIME_UNITS)),
                      QStringList({"MilliSeconds", "Seconds", "Minutes", "Hours", "Days"}));
            EXPECT_EQ(dlgtest::Entries(Combo(&g, IDC_GEN_QUALITY)),
                      QStringList({"Good", "Uncertain", "Bad"}));
            StartAt(&g, QDate(2009, 2, 24), QTime(10, 0, 0), "250");
            Generate(&g, "1", "1", "10");
            generated = Rows(&g, IDC_GEN_LIST);
            dlgtest::Shot(&g, "datagenerator");
            Press(&g, IDOK);
        });
        Press(&d, IDC_DATA_GENERATOR);
        inserted = Rows(&d, IDC_DATA_LIST);
    });
    EXPECT_EQ(defaults, QStringList({"1", "1", "10", "1", "0", "Seconds", "Good", "2009-02-24", "13:05:07"}));
    QStringList expected;
    for (int i = 1; i <= 9; ++i)
        expected << QString::asprintf("%d.000000 | 2009/02/24 10:00:%02d.250 | Good", i, i - 1);
    QStringList newestFirst(expected.rbegin(), expected.rend());
    EXPECT_EQ(generated, newestFirst);
    expected << "earlier | 2009/02/24 09:00:00.000 | Good";
    EXPECT_EQ(inserted, expected);
    ExpectMessages({});
}

TEST_F(InsertDlgTest, GeneratorRefusesWrongSignsAndStopsWhereItMust) {
    const std::u16string kSign = u"Error Calculating Output, change sign of Incremnt value";
    struct Case {
        const char *initial, *increment, *end;
        int rows;
        std::u16string message;  // empty: none
    } cases[] = {
        {"5", "1", "5", 0, u""},
        {"1", "0", "10", 0, kSign},
        {"10", "1", "1", 0, kSign},
        {"1", "-1", "10", 0, kSign},
        {"3", "-0.5", "1", 4, u""},
        // The increment is lost in the value's rounding: one row, then a stop instead of a hang.
        {"1e17", "1", "1e18", 1,
         u"Generation stopped at 100000000000000000.000000: adding the increment no longer changes the "
         u"value."},
        {"1", "1", "abc", 0, u"Please enter a number."},
        {"nan", "1", "10", 0, u"Please enter a number."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.initial << " " << c.increment << " " << c.end);
        m_messages.clear();
        CDataGeneratorDlg gen;
        int rows = -1;
        RunModal<CDataGeneratorDlg>(gen, [&](CDataGeneratorDlg& g) {
            Generate(&g, c.initial, c.increment, c.end);
            rows = g.GetGeneratedList()->model()->rowCount();
        });
        EXPECT_EQ(rows, c.rows);
        if (c.message.empty())
            ExpectMessages({});
        else
            ExpectMessages({c.message});
    }
}

TEST_F(InsertDlgTest, GeneratorStepsByUnitAcrossThe32BitBoundaryOfTicks) {
    struct Case {
        const char* timeIncrement;
        const char* unit;
        QStringList times;
    } cases[] = {
        {"250", "MilliSeconds", {"2009/02/24 10:00:00.250", "2009/02/24 10:00:00.000"}},
        {"2", "Minutes", {"2009/02/24 10:02:00.000", "2009/02/24 10:00:00.000"}},
        {"3", "Hours", {"2009/02/24 13:00:00.000", "2009/02/24 10:00:00.000"}},
        {"1", "Days", {"2009/02/25 10:00:00.000", "2009/02/24 10:00:00.000"}},
        {"1", "fortnights", {"2009/02/25 10:00:00.000", "2009/02/24 10:00:00.000"}},  // no entry: days
        // 300 s steps are 3e9 ticks: the third row lies beyond a multiple of 2^32 ticks from the first.
        {"300", "Seconds", {"2009/02/24 10:10:00.000", "2009/02/24 10:05:00.000", "2009/02/24 10:00:00.000"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unit);
        CDataGeneratorDlg gen;
        QStringList times;
        RunModal<CDataGeneratorDlg>(gen, [&](CDataGeneratorDlg& g) {
            StartAt(&g, QDate(2009, 2, 24), QTime(10, 0, 0), "0");
            Generate(&g, "0", "1", QByteArray::number(static_cast<int>(c.times.size())).constData(),
                     c.timeIncrement, c.unit);
            times = ListColumn(&g, IDC_GEN_LIST, 1);
        });
        EXPECT_EQ(times, c.times);
    }
    EXPECT_EQ(dlg::TicksPerUnit(0), 10000ULL);
    EXPECT_EQ(dlg::TicksPerUnit(1), 10000000ULL);
    EXPECT_EQ(dlg::TicksPerUnit(-1), 864000000000ULL);
    ExpectMessages({});
}

TEST(RampTest, StopsAtTheRowLimitAndAtTheLastMoment) {
    dlg::RampSettings s;
    s.dInitial = 0;
    s.dIncrement = 1;
    s.dEnd = 100;
    s.step = 10;
    std::vector<dlg::DataRow> rows;
    EXPECT_EQ(dlg::MakeRamp(s, 5, &rows), dlg::RampEnd::RowLimit);
    EXPECT_EQ(rows.size(), 5u);
    rows.clear();
    s.dEnd = 5;
    EXPECT_EQ(dlg::MakeRamp(s, 5, &rows), dlg::RampEnd::Done);  // exactly as many as allowed
    rows.clear();
    s.startLocalTicks = 0x7FFFFFFFFFFFFFFFULL - 15;
    EXPECT_EQ(dlg::MakeRamp(s, 100, &rows), dlg::RampEnd::TimeRange);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].localTicks - rows[0].localTicks, 10u);
    rows.clear();
    s.startLocalTicks = 0;
    s.bStepOverflow = true;
    EXPECT_EQ(dlg::MakeRamp(s, 100, &rows), dlg::RampEnd::TimeRange);
    EXPECT_EQ(rows.size(), 1u);
}

TEST_F(InsertDlgTest, GeneratorCancelWritesNothingAndItsRowLimitIsAMillion) {
    CInsertDlg dlg;
    int afterCancel = -1, generated = -1;
    RunModal<CInsertDlg>(dlg, [&](CInsertDlg& d) {
        OnNextModal<CDataGeneratorDlg>([&](CDataGeneratorDlg& g) {
            Generate(&g, "0", "1", "2000000", "1", "MilliSeconds");
            generated = g.GetGeneratedList()->model()->rowCount();
            Press(&g, IDCANCEL);
        });
        Press(&d, IDC_DATA_GENERATOR);
        afterCancel = d.GetDataList()->model()->rowCount();
    });
    EXPECT_EQ(generated, 1000000);
    EXPECT_EQ(afterCancel, 0);
    ExpectMessages({u"The list holds at most 1000000 generated rows: generation stopped there."});
}

}  // namespace

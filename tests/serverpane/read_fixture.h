// The server pane with an output pane beside it and the recording test server connected, for the
// history reads: items registered with the server's own handles, selection helpers, drivers for the
// read dialogs, and what the output pane shows.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "com/objbase.h"
#include "com/timeapi.h"
#include "dialogs/dlgkit.h"
#include "dialogs/readrawdlg.h"
#include "outputpane/mytabctrl.h"
#include "outputpane/outputlist.h"
#include "outputpane/outputpane.h"
#include "resources/uikit.h"
#include "serverpane/opcitemctrls.h"
#include "tests/com/store_fixture.h"
#include "tests/plugins/recording_control.h"
#include "tests/serverpane/fake_frame.h"
#include "tests/serverpane/message_recorder.h"

namespace readtest {

using Texts = std::vector<std::u16string>;

// The cursor the application shows now: the top override cursor, or none (-1).
inline int CursorShape() {
    const QCursor* c = QGuiApplication::overrideCursor();
    return c ? static_cast<int>(c->shape()) : -1;
}

// Acts on the next modal dialog of type D once it is up; cancels it if the action left it open.
// Arm before the command that opens the dialog.
template <class D>
void Arm(std::function<void(D&)> act, bool* pRan = nullptr) {
    QTimer::singleShot(0, [act, pRan] {
        auto* d = qobject_cast<D*>(QApplication::activeModalWidget());
        if (pRan) *pRan = d != nullptr;
        ASSERT_NE(d, nullptr) << "no dialog of the expected type is up";
        act(*d);
        if (d->isVisible()) d->reject();
    });
}

inline void Press(QWidget* d, int id) {
    dlg::GetDlgItem<QPushButton>(d, id)->click();
}
inline void SetMoment(QWidget* d, int dateId, int timeId, int msId, QDate date, QTime time, int ms) {
    dlg::GetDlgItem<QDateEdit>(d, dateId)->setDate(date);
    dlg::GetDlgItem<QTimeEdit>(d, timeId)->setTime(time);
    dlg::GetDlgItem<QLineEdit>(d, msId)->setText(QString::number(ms));
}

// UTC ticks of a calendar moment.
inline ULONGLONG Ticks(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    SYSTEMTIME st{static_cast<WORD>(y), static_cast<WORD>(mo), 0,
                  static_cast<WORD>(d), static_cast<WORD>(h),  static_cast<WORD>(mi),
                  static_cast<WORD>(s), static_cast<WORD>(ms)};
    FILETIME ft{};
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
    return FileTimeToU64(ft);
}
constexpr ULONGLONG kHour = 36'000'000'000ULL;

// When VISTREL_SHOTS names a directory, saves a picture of the widget there (to look at, not to compare).
inline void Shot(QWidget* w, const char* name) {
    const QString dir = qEnvironmentVariable("VISTREL_SHOTS");
    if (dir.isEmpty() || !w) return;
    QDir().mkpath(dir);
    w->grab().save(dir + QLatin1Char('/') + QLatin1String(name) + QLatin1String(".png"));
}

// The texts of a list of the output pane, row by row.
inline QList<QStringList> ListRows(COutputList* list) {
    QList<QStringList> out;
    if (!list) return out;
    for (int r = 0; r < list->GetItemCount(); ++r) {
        QStringList row;
        for (int c = 0; c < list->GetColumnCount(); ++c) row << list->GetItemText(r, c);
        out << row;
    }
    return out;
}

class ReadTest : public vistrel_test::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_EQ(hdatest::RegisterRecordingProfiles(HDATEST_RECORDING_PATH), S_OK);
        // Local time is UTC+1 (the Windows bias of such a zone is -60), now 2009-02-24 13:05:07 UTC.
        com::SetFixedNow(Ticks(2009, 2, 24, 13, 5, 7));
        com::SetFixedBiasMinutes(-60);
        pane = std::make_unique<CServerPane>();
        output = std::make_unique<COutputPane>();
        output->resize(600, 400);
        output->SetServerPane(pane.get());
        pane->SetOutputPane(output.get());
        pane->m_pMainFrame = &frame;
        frame.pane = pane.get();
        pane->resize(300, 400);
        pane->InitComAndDiscoverServers();
        control.emplace(hdatest::CLSID_HdaTestRecording);
        noSyncRead.emplace(hdatest::CLSID_HdaTestNoSyncRead);
        ASSERT_TRUE(control->ok() && noSyncRead->ok());
    }
    void TearDown() override {
        frame.pane = nullptr;
        output->SetServerPane(nullptr);
        output.reset();
        pane.reset();
        control.reset();
        noSyncRead.reset();
        com::ResetClock();
        StoreTest::TearDown();
    }

    // Connects a server of the server box (0 the full recording server, 2 the one without
    // IOPCHDA_SyncRead) and registers the items with the handles that server gives them.
    CHDAServer* Connect(int entry, std::initializer_list<const char16_t*> ids) {
        frame.combo.setCurrentIndex(entry);
        pane->OnConnect();
        const std::u16string key = pane->GetSelectedServerKey();
        CHDAServer* server = pane->FindServer(key);
        EXPECT_NE(server, nullptr);
        if (!server) return nullptr;
        std::vector<LPWSTR> names;
        std::vector<std::u16string> copies(ids.begin(), ids.end());
        for (auto& s : copies) names.push_back(s.data());
        std::vector<OPCHANDLE> clients(names.size(), 0);
        OPCHANDLE* handles = nullptr;
        HRESULT* errors = nullptr;
        EXPECT_EQ(server->m_pServer->GetItemHandles(static_cast<DWORD>(names.size()), names.data(),
                                                    clients.data(), &handles, &errors),
                  S_OK);
        pane->m_strCurrentServer = key;
        for (std::size_t i = 0; i < names.size(); ++i) {
            server->AddItemToServer(copies[i], handles[i]);
            handleOf[copies[i]] = handles[i];
        }
        CoTaskMemFree(handles);
        CoTaskMemFree(errors);
        messages.seen.clear();
        (*control)->ClearCalls();
        (*noSyncRead)->ClearCalls();
        return server;
    }

    // Selects rows by clicking them with Ctrl held, in the order given.
    void ClickRows(std::initializer_list<const char16_t*> ids) {
        COPCItemListCtrl* list = pane->GetItemList();
        pane->show();
        list->doItemsLayout();
        bool first = true;
        for (const char16_t* id : ids)
            for (int i = 0; i < list->count(); ++i)
                if (list->item(i)->text() == ui::ToQString(id)) {
                    QTest::mouseClick(list->viewport(), Qt::LeftButton,
                                      first ? Qt::KeyboardModifiers() : Qt::ControlModifier,
                                      list->visualItemRect(list->item(i)).center());
                    first = false;
                }
        ASSERT_EQ(static_cast<std::size_t>(list->GetSelectedCount()), ids.size());
    }
    std::vector<OPCHANDLE> Handles(std::initializer_list<const char16_t*> ids) {
        std::vector<OPCHANDLE> out;
        for (const char16_t* id : ids) out.push_back(handleOf.at(id));
        return out;
    }

    // What the value tabs show: captions, and per tab the result label and the rows.
    QStringList TabCaptions() const {
        QStringList out;
        if (CMyTabCtrl* tabs = output->GetTabCtrl())
            for (int i = 0; i < tabs->GetItemCount(); ++i) out << tabs->GetItemText(i);
        return out;
    }
    void PickTab(int i) const { output->GetTabCtrl()->GetTabBar()->setCurrentIndex(i); }
    QString ResultLabel() const {
        QLabel* l = output->GetTabCtrl() ? output->GetTabCtrl()->GetResultLabel() : nullptr;
        return l ? l->text() : QStringLiteral("<no label>");
    }
    QList<QStringList> TabRows() const {
        return ListRows(output->GetTabCtrl() ? output->GetTabCtrl()->GetValueList() : nullptr);
    }
    QList<QStringList> ResultRows() const { return ListRows(output->GetResultList()); }

    std::vector<hdatest::RecordedCall> CallsTo(const std::string& method) const {
        return (*control)->CallsTo(method);
    }
    hdatest::RecordingHooks& Hooks() { return (*control)->Hooks(); }

    // Read Raw with the dialog's defaults except what `fill` changes; the dialog is confirmed.
    void ReadRaw(const std::function<void(CReadRawDlg&)>& fill = {}) {
        bool ran = false;
        Arm<CReadRawDlg>(
            [fill](CReadRawDlg& d) {
                if (fill) fill(d);
                Press(&d, IDOK);
            },
            &ran);
        pane->OnReadRaw();
        EXPECT_TRUE(ran);
    }

    MessageRecorder messages;
    FakeFrame frame;
    std::unique_ptr<CServerPane> pane;
    std::unique_ptr<COutputPane> output;
    std::optional<hdatest::ScopedControl> control;
    std::optional<hdatest::ScopedControl> noSyncRead;
    std::map<std::u16string, OPCHANDLE> handleOf;
};

}  // namespace readtest

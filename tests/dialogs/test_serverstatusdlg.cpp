// The Server Status dialog against the recording test server: the one call it makes, the texts it
// shows, what it releases, and how it copes with servers that answer badly.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <optional>
#include <string>

#include "com/objbase.h"
#include "com/timeapi.h"
#include "dialogs/dlgkit.h"
#include "dialogs/serverstatusdlg.h"
#include "tests/com/store_fixture.h"
#include "tests/dialogs/dialog_fakes.h"
#include "tests/plugins/recording_control.h"
#include "tests/serverpane/message_recorder.h"

void PrintTo(const QString& s, std::ostream* os);

namespace {

using namespace hdatest;

constexpr ULONGLONG kDay = 24ULL * 3600 * 10000000;

class ServerStatusDlgTest : public vistrel_test::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        ASSERT_EQ(RegisterRecordingProfiles(HDATEST_RECORDING_PATH), S_OK);
        com::SetFixedBiasMinutes(0);
        m_blocks = com::LiveTaskMemBlocks();
        m_control.emplace(CLSID_HdaTestRecording);
        ASSERT_TRUE(m_control->ok());
        ASSERT_EQ(CoCreateInstance(CLSID_HdaTestRecording, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCHDA_Server,
                                   m_server.ReleaseAndGetVoidAddress()),
                  S_OK);
        host.server = m_server.Get();
        host.serverKey = u"Localhost\\Recording";
        Control()->ClearCalls();
    }
    void TearDown() override {
        m_dlg.reset();
        host.server = nullptr;
        m_server.Reset();
        EXPECT_EQ(Control()->OutstandingReferences(), 0);
        m_control.reset();
        EXPECT_EQ(com::LiveTaskMemBlocks(), m_blocks) << "task memory left";
        com::ResetClock();
        CoUninitialize();
        StoreTest::TearDown();
    }
    IRecordingControl* Control() { return m_control->control(); }

    // A dialog for the fake host, initialised as exec() would (without running it).
    CServerStatusDlg& Open(std::u16string key = u"Localhost\\Recording") {
        m_dlg = std::make_unique<CServerStatusDlg>();
        m_dlg->m_pServerPane = &host;
        m_dlg->m_strServerKey = std::move(key);
        m_dlg->OnInitDialog();
        return *m_dlg;
    }
    QString Box(int id) {
        auto* box = dlg::GetDlgItem<QLineEdit>(m_dlg.get(), id);
        EXPECT_NE(box, nullptr) << id;
        return box ? box->text() : QStringLiteral("<no box>");
    }
    QStringList Boxes() {
        QStringList out;
        for (int id = CServerStatusDlg::IDC_SERVER_STATUS; id <= CServerStatusDlg::IDC_MAX_RETURN_VALUES;
             ++id)
            out << Box(id);
        return out;
    }
    // A server whose answer is the default one with the given changes.
    using Outs = std::function<HRESULT(OPCHDA_SERVERSTATUS*, FILETIME**, FILETIME**, WORD*, WORD*, WORD*,
                                       DWORD*, LPWSTR*, LPWSTR*)>;
    void Answer(Outs f) { Control()->Hooks().GetHistorianStatus = std::move(f); }

    dlgtest::FakeHost host;
    MessageRecorder messages;
    std::optional<ScopedControl> m_control;
    com::ComPtr<IOPCHDA_Server> m_server;
    std::unique_ptr<CServerStatusDlg> m_dlg;
    long m_blocks = 0;
};

TEST_F(ServerStatusDlgTest, ConstructsEmptyWithItsBoxesAndOk) {
    CServerStatusDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), "Server Status");
    EXPECT_EQ(dlg.m_pServerPane, nullptr);
    EXPECT_TRUE(dlg.m_strServerKey.empty());
    for (const std::u16string* s : {&dlg.m_strServerStatus, &dlg.m_strStatusString, &dlg.m_strCurrentTime,
                                    &dlg.m_strStartTime, &dlg.m_strMajorVersion, &dlg.m_strMinorVersion,
                                    &dlg.m_strBuildNumber, &dlg.m_strVendorInfo, &dlg.m_strMaxReturnValues})
        EXPECT_TRUE(s->empty());
    for (int id = 1047; id <= 1055; ++id) {
        auto* box = dlg::GetDlgItem<QLineEdit>(&dlg, id);
        ASSERT_NE(box, nullptr) << id;
        EXPECT_TRUE(box->isReadOnly()) << id;
        EXPECT_TRUE(box->text().isEmpty()) << id;
    }
    QStringList labels;
    for (QLabel* l : dlg.findChildren<QLabel*>()) labels << l->text();
    EXPECT_EQ(labels,
              (QStringList{"Server Status", "Status string", "CurrentTime", "Start Time", "Major Version",
                           "Minor Version", "Build Number", "Vendor Info", "Max Ret Vals"}));
    auto* ok = dlg::GetDlgItem<QPushButton>(&dlg, 1);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());
    // Labels stand left of their boxes, in one column, top to bottom.
    auto* first = dlg::GetDlgItem<QLineEdit>(&dlg, 1047);
    auto* last = dlg::GetDlgItem<QLineEdit>(&dlg, 1055);
    EXPECT_LT(first->y(), last->y());
    EXPECT_EQ(first->x(), last->x());
    EXPECT_LE(last->geometry().bottom(), ok->y());
}

TEST_F(ServerStatusDlgTest, ShowsWhatTheServerReportsAfterOneCall) {
    Open();
    EXPECT_EQ(Control()->CallsTo("IOPCHDA_Server::GetHistorianStatus").size(), 1u);
    EXPECT_EQ(Boxes(),
              (QStringList{"The historian is running", "Running", "02/24/09 13:05:07", "02/23/09 13:05:07",
                           "1", "20", "7", "HDA Vistrel recording test server", "1000"}));
    EXPECT_EQ(m_dlg->m_strVendorInfo, u"HDA Vistrel recording test server");
    EXPECT_TRUE(messages.seen.empty());
}

TEST_F(ServerStatusDlgTest, TimesAreLocal) {
    com::SetFixedBiasMinutes(-90);  // UTC+1:30
    Open();
    EXPECT_EQ(Box(CServerStatusDlg::IDC_CURRENT_TIME), "02/24/09 14:35:07");
    EXPECT_EQ(Box(CServerStatusDlg::IDC_START_TIME), "02/23/09 14:35:07");
}

TEST_F(ServerStatusDlgTest, EachStateHasItsText) {
    const std::pair<int, QString> cases[] = {{1, "The historian is running"},
                                             {2, "The historian is not running"},
                                             {3, "Indetermined: see status string"},
                                             {0, ""},
                                             {4, ""},
                                             {-1, ""}};
    for (const auto& [state, text] : cases) {
        Answer([state](OPCHDA_SERVERSTATUS* s, FILETIME** c, FILETIME** st, WORD* ma, WORD* mi, WORD* b,
                       DWORD* m, LPWSTR* ss, LPWSTR* v) {
            *s = static_cast<OPCHDA_SERVERSTATUS>(state);
            *c = TaskArray<FILETIME>({U64ToFileTime(kStatusNowTicks)});
            *st = TaskArray<FILETIME>({U64ToFileTime(kStatusNowTicks - kDay)});
            *ma = 2, *mi = 0, *b = 65535, *m = 0;
            *ss = TaskString(u"Backfilling archive 3");
            *v = TaskString(u"Vendor");
            return S_OK;
        });
        Open();
        EXPECT_EQ(Box(CServerStatusDlg::IDC_SERVER_STATUS), text) << state;
        // The other boxes are filled whatever the state.
        EXPECT_EQ(Box(CServerStatusDlg::IDC_STATUS_STRING), "Backfilling archive 3") << state;
        EXPECT_EQ(Box(CServerStatusDlg::IDC_BUILD_NUMBER), "65535") << state;
        EXPECT_EQ(Box(CServerStatusDlg::IDC_MAX_RETURN_VALUES), "0") << state;
    }
    EXPECT_TRUE(messages.seen.empty());
}

TEST_F(ServerStatusDlgTest, AMaximumAbove31BitsShowsUnsigned) {
    Answer(
        [](OPCHDA_SERVERSTATUS* s, FILETIME**, FILETIME**, WORD*, WORD*, WORD*, DWORD* m, LPWSTR*, LPWSTR*) {
            *s = OPCHDA_UP;
            *m = 0xFFFFFFFFu;
            return S_OK;
        });
    Open();
    EXPECT_EQ(Box(CServerStatusDlg::IDC_MAX_RETURN_VALUES), "4294967295");
}

TEST_F(ServerStatusDlgTest, NullTimesAndStringsLeaveTheirBoxesEmpty) {
    Answer([](OPCHDA_SERVERSTATUS* s, FILETIME** c, FILETIME** st, WORD* ma, WORD* mi, WORD* b, DWORD* m,
              LPWSTR* ss, LPWSTR* v) {
        *s = OPCHDA_DOWN;
        *c = nullptr, *st = nullptr, *ss = nullptr, *v = nullptr;
        *ma = 3, *mi = 1, *b = 2, *m = 50;
        return S_OK;
    });
    Open();
    EXPECT_EQ(Boxes(), (QStringList{"The historian is not running", "", "", "", "3", "1", "2", "", "50"}));
    EXPECT_TRUE(messages.seen.empty());
}

TEST_F(ServerStatusDlgTest, AFailureIsReportedTheDialogIsEmptyAndWhatCameBackIsFreed) {
    // A server that fails yet hands out memory: all of it is released, nothing of it shown.
    Answer([](OPCHDA_SERVERSTATUS* s, FILETIME** c, FILETIME** st, WORD* ma, WORD*, WORD*, DWORD*, LPWSTR* ss,
              LPWSTR* v) {
        *s = OPCHDA_UP;
        *ma = 9;
        *c = TaskArray<FILETIME>({U64ToFileTime(kStatusNowTicks)});
        *st = TaskArray<FILETIME>({U64ToFileTime(kStatusNowTicks)});
        *ss = TaskString(u"half an answer");
        *v = TaskString(u"Vendor");
        return E_FAIL;
    });
    Open();
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_EQ(messages.seen[0].text, u"Unable to get status: GetHistorianStatus returns 80004005");
    EXPECT_EQ(messages.seen[0].caption, u"Error");
    EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Exclamation);
    EXPECT_EQ(Boxes(), QStringList(9, QString()));
}

TEST_F(ServerStatusDlgTest, TheFailureCodeIsLowerCaseHexAndASecondOpeningForgetsTheFirstAnswer) {
    Open();
    ASSERT_EQ(Box(CServerStatusDlg::IDC_MAJOR_VERSION), "1");
    Answer([](OPCHDA_SERVERSTATUS*, FILETIME**, FILETIME**, WORD*, WORD*, WORD*, DWORD*, LPWSTR*, LPWSTR*) {
        return static_cast<HRESULT>(0x8004ABCDu);
    });
    m_dlg->OnInitDialog();
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_EQ(messages.seen[0].text, u"Unable to get status: GetHistorianStatus returns 8004abcd");
    EXPECT_EQ(Boxes(), QStringList(9, QString()));
    EXPECT_TRUE(m_dlg->m_strVendorInfo.empty());
}

TEST_F(ServerStatusDlgTest, ASuccessCodeOtherThanOkStillShowsTheAnswer) {
    Answer([](OPCHDA_SERVERSTATUS* s, FILETIME**, FILETIME**, WORD* ma, WORD*, WORD*, DWORD*, LPWSTR* ss,
              LPWSTR*) {
        *s = OPCHDA_INDETERMINATE;
        *ma = 4;
        *ss = TaskString(u"archive offline");
        return S_FALSE;
    });
    Open();
    EXPECT_TRUE(messages.seen.empty());
    EXPECT_EQ(Box(CServerStatusDlg::IDC_SERVER_STATUS), "Indetermined: see status string");
    EXPECT_EQ(Box(CServerStatusDlg::IDC_STATUS_STRING), "archive offline");
    EXPECT_EQ(Box(CServerStatusDlg::IDC_MAJOR_VERSION), "4");
}

TEST_F(ServerStatusDlgTest, UnconvertibleAndPre1900TimesShowTheirRawValue) {
    Answer([](OPCHDA_SERVERSTATUS* s, FILETIME** c, FILETIME** st, WORD*, WORD*, WORD*, DWORD*, LPWSTR*,
              LPWSTR*) {
        *s = OPCHDA_UP;
        *c = TaskArray<FILETIME>({U64ToFileTime(0xFFFFFFFFFFFFFFFFULL)});
        *st = TaskArray<FILETIME>({U64ToFileTime(kDay)});  // 2 January 1601
        return S_OK;
    });
    Open();
    EXPECT_EQ(Box(CServerStatusDlg::IDC_CURRENT_TIME), "Invalid time 0xFFFFFFFFFFFFFFFF");
    EXPECT_EQ(Box(CServerStatusDlg::IDC_START_TIME), "Invalid time 0xC92A69C000");
    EXPECT_EQ(Box(CServerStatusDlg::IDC_SERVER_STATUS), "The historian is running");
}

TEST_F(ServerStatusDlgTest, BlocksShorterThanTheirContentShowMarkedBoxesAndOneClearWord) {
    // Times of 4 and 0 bytes, strings without a terminator in their blocks: nothing is read past a
    // block (the sanitizer build checks), each box says what it got, one message says what was wrong.
    Control()->SetMisbehaviour(kMisbehaveShortTimes | kMisbehaveUnterminatedStrings);
    Open();
    EXPECT_EQ(Boxes(), (QStringList{"The historian is running", "Running (not terminated)",
                                    "(not a time: 4 of 8 bytes)", "(not a time: 0 of 8 bytes)", "1", "20",
                                    "7", "HDA Vistrel recording test server (not terminated)", "1000"}));
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_EQ(messages.seen[0].text,
              u"GetHistorianStatus answered with blocks that do not hold what they should:\n"
              u"The server's status string has no terminator within its block of 14 bytes.\n"
              u"The server's current time is a block of 4 bytes, too short for a time (8 bytes).\n"
              u"The server's start time is a block of 0 bytes, too short for a time (8 bytes).\n"
              u"The server's vendor information has no terminator within its block of 66 bytes.");
    EXPECT_EQ(messages.seen[0].caption, u"Error");
    EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Exclamation);
}

TEST_F(ServerStatusDlgTest, AKeyWithoutAConnectionIsReportedWithoutACall) {
    Open(u"Localhost\\Gone");
    EXPECT_TRUE(Control()->CallsTo("IOPCHDA_Server::GetHistorianStatus").empty());
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_EQ(messages.seen[0].caption, u"Error");
    EXPECT_EQ(Boxes(), QStringList(9, QString()));
}

TEST_F(ServerStatusDlgTest, RunsModallyAndOkCloses) {
    m_dlg = std::make_unique<CServerStatusDlg>();
    m_dlg->m_pServerPane = &host;
    m_dlg->m_strServerKey = host.serverKey;
    const int r = dlgtest::RunModal<CServerStatusDlg>(*m_dlg, [&](CServerStatusDlg& d) {
        EXPECT_EQ(Box(CServerStatusDlg::IDC_VENDOR_INFO), "HDA Vistrel recording test server");
        dlgtest::Press(&d, 1);
    });
    EXPECT_EQ(r, QDialog::Accepted);
    EXPECT_EQ(Control()->CallsTo("IOPCHDA_Server::GetHistorianStatus").size(), 1u);
}

}  // namespace

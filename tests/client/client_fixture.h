// The client core against the recording test server: COM joined, the server created as the client
// creates it, its interfaces held, the clock fixed (now 2009-02-24 13:05:07 UTC, local time UTC+1),
// and the live-block count checked at the end of every test.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "com/objbase.h"
#include "com/ownership.h"
#include "com/timeapi.h"
#include "tests/com/store_fixture.h"
#include "tests/plugins/recording_control.h"
#include "tests/serverpane/message_recorder.h"

namespace clienttest {

// UTC ticks of a calendar moment.
inline ULONGLONG Ticks(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    SYSTEMTIME st{static_cast<WORD>(y), static_cast<WORD>(mo), 0,
                  static_cast<WORD>(d), static_cast<WORD>(h),  static_cast<WORD>(mi),
                  static_cast<WORD>(s), static_cast<WORD>(ms)};
    FILETIME ft{};
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
    return FileTimeToU64(ft);
}

class ClientTest : public vistrel_test::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        ASSERT_EQ(hdatest::RegisterRecordingProfiles(HDATEST_RECORDING_PATH), S_OK);
        com::SetFixedNow(Ticks(2009, 2, 24, 13, 5, 7));
        com::SetFixedBiasMinutes(-60);
        control.emplace(hdatest::CLSID_HdaTestRecording);
        ASSERT_TRUE(control->ok());
        ASSERT_EQ(CoCreateInstance(hdatest::CLSID_HdaTestRecording, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IOPCHDA_Server, server.ReleaseAndGetVoidAddress()),
                  S_OK);
        ASSERT_EQ(server.As(&syncRead), S_OK);
        ASSERT_EQ(server.As(&syncUpdate), S_OK);
        {
            // Two items with the server's own handles.
            com::Received<OPCHANDLE> handles;
            com::Received<HRESULT> errors;
            std::u16string a = u"A", b = u"B";
            LPWSTR ids[2] = {a.data(), b.data()};
            OPCHANDLE clients[2] = {0, 0};
            ASSERT_EQ(server->GetItemHandles(2, ids, clients, handles.Out(), errors.Out()), S_OK);
            ASSERT_EQ(handles.size(), 2u);
            hA = handles[0];
            hB = handles[1];
        }
        (*control)->ClearCalls();
        blocks = com::LiveTaskMemBlocks();
    }
    void TearDown() override {
        com::ResetTaskMemFailure();
        EXPECT_EQ(com::LiveTaskMemBlocks(), blocks) << "task memory left allocated";
        syncRead.Reset();
        syncUpdate.Reset();
        server.Reset();
        if (control && control->ok()) {
            EXPECT_EQ((*control)->LiveObjects(), 0) << "server objects still referenced";
        }
        control.reset();
        CoUninitialize();
        com::ResetClock();
        StoreTest::TearDown();
    }

    std::vector<hdatest::RecordedCall> CallsTo(const std::string& method) const {
        return (*control)->CallsTo(method);
    }
    hdatest::RecordedCall OnlyCallTo(const std::string& method) const {
        const auto calls = CallsTo(method);
        EXPECT_EQ(calls.size(), 1u) << method;
        return calls.empty() ? hdatest::RecordedCall{} : calls[0];
    }
    hdatest::RecordingHooks& Hooks() { return (*control)->Hooks(); }

    MessageRecorder messages;
    std::optional<hdatest::ScopedControl> control;
    com::ComPtr<IOPCHDA_Server> server;
    com::ComPtr<IOPCHDA_SyncRead> syncRead;
    com::ComPtr<IOPCHDA_SyncUpdate> syncUpdate;
    OPCHANDLE hA = 0, hB = 0;
    long blocks = 0;
};

}  // namespace clienttest

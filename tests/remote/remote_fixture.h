// A class store with the recording test server, a host in this process, and proxies reached through
// a socket pair (RemoteTest) or through the runtime's activator and TLS on loopback (the tests that
// start a host with Start()).
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "com/objbase.h"
#include "hda/serverlist.h"
#include "remote/remote.h"
#include "tests/com/store_fixture.h"
#include "tests/plugins/recording_control.h"

namespace remotetest {

inline const std::string kRecording = HDATEST_RECORDING_PATH;

class RemoteTest : public vistrel_test::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        hda::InstallServerList();  // what the host's main() installs
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        ASSERT_EQ(hdatest::RegisterRecordingProfiles(kRecording), S_OK);
        m_blocks = com::LiveTaskMemBlocks();
    }
    void TearDown() override {
        vistrel::remote::ShutdownClient();
        m_host.reset();
        EXPECT_EQ(com::LiveTaskMemBlocks(), m_blocks) << "task memory leaked";
        CoUninitialize();
        StoreTest::TearDown();
    }
    vistrel::remote::Host& host(vistrel::remote::HostOptions options = {}) {
        if (!m_host) m_host = std::make_unique<vistrel::remote::Host>(options);
        return *m_host;
    }
    // Creates `clsid` on the in-process host through a new socket pair.
    template <class I>
    HRESULT Create(REFCLSID clsid, I** out, vistrel::remote::HostOptions options = {}) {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return E_FAIL;
        host(options).ServeSocket(fds[0]);
        MULTI_QI qi{&uuidof<I>(), nullptr, S_OK};
        HRESULT hr = vistrel::remote::ActivateOverSocket(fds[1], clsid, 1, &qi);
        *out = static_cast<I*>(static_cast<void*>(qi.pItf));
        return FAILED(hr) ? hr : qi.hr;
    }
    // The host releases objects once the client's release message arrives.
    static bool Eventually(const std::function<bool()>& f) {
        for (int i = 0; i < 400; ++i) {
            if (f()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return f();
    }

    std::unique_ptr<vistrel::remote::Host> m_host;
    long m_blocks = 0;
};

}  // namespace remotetest

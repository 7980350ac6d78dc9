// Arbitrary bytes from an authorised client: the host must answer or drop the connection, never
// crash, hang or leak. The class store holds the recording test server, so activation and calls
// are reachable.
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "com/objbase.h"
#include "remote/remote.h"
#include "tests/plugins/recording_control.h"

namespace {

vistrel::remote::Host& TheHost() {
    static vistrel::remote::Host* host = [] {
        char dir[] = "/tmp/vistrel-fuzz-XXXXXX";
        setenv("VISTREL_CLASS_STORE", mkdtemp(dir), 1);
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        hdatest::RegisterRecordingProfiles(HDATEST_RECORDING_PATH);
        vistrel::remote::HostOptions options;
        options.maxMessageWords = 1 << 16;
        return new vistrel::remote::Host(options);
    }();
    return *host;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vistrel::remote::Host& host = TheHost();
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
    host.ServeSocket(fds[0]);
    std::size_t sent = 0;
    while (sent < size) {
        ssize_t n = write(fds[1], data + sent, size - sent);
        if (n <= 0) break;
        sent += std::size_t(n);
    }
    shutdown(fds[1], SHUT_WR);
    // Read what the host answers until it closes (bounded: a second at most).
    char buf[4096];
    for (int i = 0; i < 100; ++i) {
        pollfd p{fds[1], POLLIN, 0};
        if (poll(&p, 1, 10) <= 0) continue;
        if (read(fds[1], buf, sizeof buf) <= 0) break;
    }
    close(fds[1]);
    return 0;
}

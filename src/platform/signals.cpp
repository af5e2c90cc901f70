#include "platform/signals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "platform/http.h"

namespace fv {
namespace {
int gPipe[2] = {-1, -1};
volatile sig_atomic_t gLastSignal = 0;

void OnSignal(int sig) {
    int saved = errno;
    // a transfer that holds the UI thread (or the exit's log-out) must not hold the end up
    THttpClient::CancelAll();
    gLastSignal = sig;
    unsigned char b = static_cast<unsigned char>(sig);
    if (gPipe[1] >= 0 && ::write(gPipe[1], &b, 1) < 0) {
    }
    errno = saved;
}
}  // namespace

int InstallTerminationPipe() {
    if (gPipe[0] >= 0) return gPipe[0];
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    return gPipe[0];
}

bool DrainTerminationPipe() {
    if (gPipe[0] < 0) return false;
    bool any = false;
    unsigned char buf[16];
    ssize_t n;
    while ((n = ::read(gPipe[0], buf, sizeof buf)) > 0) any = true;
    return any;
}

int LastTerminationSignal() { return gLastSignal; }

}  // namespace fv

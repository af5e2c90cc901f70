#include "platform/os_thread.h"

#include <cerrno>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fv {

void SetCurrentThreadName(const std::string& name) {
    std::string n = name.substr(0, 15);
    // do not leave half of a UTF-8 character at the end
    if (name.size() > 15) {
        size_t cut = 15;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        n = name.substr(0, cut);
    }
    ::pthread_setname_np(::pthread_self(), n.c_str());
}

std::string GetCurrentThreadName() {
    char buf[32] = {};
    if (::pthread_getname_np(::pthread_self(), buf, sizeof buf) != 0) return {};
    return buf;
}

bool LowerCurrentThreadPriority(int increment) {
    if (increment < 1) increment = 1;
    if (increment > 19) increment = 19;
    pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
    errno = 0;
    int cur = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (cur == -1 && errno != 0) return false;
    int want = cur + increment > 19 ? 19 : cur + increment;
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), want) == 0;
}

int GetCurrentThreadNice() {
    pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
    errno = 0;
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
}

}  // namespace fv

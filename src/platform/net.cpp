#include "platform/net.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

namespace fv {

bool InternetConnected() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    bool up = false;
    for (ifaddrs* a = list; a && !up; a = a->ifa_next) {
        if (!a->ifa_addr) continue;
        int family = a->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) continue;
        unsigned flags = a->ifa_flags;
        up = (flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK);
    }
    ::freeifaddrs(list);
    return up;
}

}  // namespace fv

#pragma once
// The machine's network connection state, as the program asks it before showing an offline page.

namespace fv {

// True when an interface other than loopback is up and running with an IPv4 or IPv6 address.
// A cheap local query (no traffic); never raises.
bool InternetConnected();

}  // namespace fv

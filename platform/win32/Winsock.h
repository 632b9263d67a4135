#pragma once

namespace tarven::platform {

// Starts Winsock 2.2 once for the process; later calls only report the outcome. 2.2 rather
// than 1.1, because WSAPoll, getaddrinfo and IPv6 sockets belong to Winsock 2.
bool startWinsock();

}  // namespace tarven::platform

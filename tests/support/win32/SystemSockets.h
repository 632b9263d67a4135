#pragma once

// The socket types, constants and address conversions a test names.
#include <winsock2.h>
#include <ws2tcpip.h>

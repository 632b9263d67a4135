#pragma once

// The socket types and constants a test names.
#include <winsock2.h>
#include <ws2tcpip.h>

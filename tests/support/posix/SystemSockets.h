#pragma once

// The socket types and constants a test names.
#include <netinet/in.h>
#include <sys/socket.h>

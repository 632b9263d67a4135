#pragma once

// The socket types, constants and address conversions a test names.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

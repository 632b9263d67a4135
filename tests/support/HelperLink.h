#pragma once

#include <string>
#include <vector>

#include "net/TcpStream.h"

// The messages between the test support of a build without OpenSSL (the Windows one, under
// Wine) and tarven-tls-helper, a program of the Linux build that makes certificates and runs
// the server side of TLS for it. One request, then one answer, in turn.
namespace tarven::test {

struct HelperMessage {
    char kind = 0;
    std::vector<std::string> fields;
};

// Each message: its kind byte, the number of fields, then each field's length and bytes (the
// numbers four bytes each, most significant first). False when the connection failed.
bool sendMessage(TcpStream& link, const HelperMessage& message);
// False when the connection ended or failed, a wait timed out, or the message is malformed.
bool receiveMessage(TcpStream& link, HelperMessage& message);

}  // namespace tarven::test

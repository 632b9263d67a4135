#pragma once

#include <openssl/ssl.h>

#include <string>

#include "support/TestPeer.h"

// The server side of TLS with OpenSSL, for the test peer and for tarven-tls-helper.
namespace tarven::test {

// Server settings from the PEM files, narrowed to `offer`; none when they do not load.
SSL_CTX* newServerContext(const std::string& certificateFile, const std::string& keyFile,
                          PeerScript::TlsOffer offer);

// "<protocol> <cipher>" of a finished handshake, in OpenSSL's names.
std::string negotiatedText(const SSL* ssl);

}  // namespace tarven::test

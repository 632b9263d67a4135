#pragma once

#include <cstddef>
#include <string>

namespace tarven {

// Why a TLS handshake failed, in terms of our own that every backend maps its codes onto, so
// the same failure reads the same on every system. The docs give each a remedy.
enum class TlsReason {
    timedOut,
    serverClosed,
    connectionReset,
    notTls,
    protocolTooOld,
    noCommonCipher,
    dhKeyTooSmall,
    chainTooLarge,
    noSubjectAltName,
    hostnameMismatch,
    addressMismatch,
    certificateExpired,
    certificateNotYetValid,
    unknownIssuer,
    selfSigned,
    selfSignedInChain,
    weakDigest,
    keyTooShort,
    caInPlaceOfLeaf,
    notForServers,
    badSignature,
    revoked,
};

// The reason as the log writes it, after "** TLS handshake failed: ".
const char* tlsReasonText(TlsReason reason);

// A backend's code and the reason it stands for; each backend keeps a table of these.
template <typename Code>
struct TlsReasonOf {
    Code code;
    TlsReason reason;
};

// The reason `code` stands for in `table`, or false when the table does not know it.
template <typename Code, std::size_t N>
bool findTlsReason(const TlsReasonOf<Code> (&table)[N], Code code, TlsReason& reason) {
    for (const TlsReasonOf<Code>& entry : table) {
        if (entry.code == code) {
            reason = entry.reason;
            return true;
        }
    }
    return false;
}

// TLS alert descriptions that a server sends to refuse a handshake, as reasons.
bool tlsAlertReason(unsigned char description, TlsReason& reason);

}  // namespace tarven

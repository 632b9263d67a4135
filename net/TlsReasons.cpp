#include "net/TlsReasons.h"

namespace tarven {

const char* tlsReasonText(TlsReason reason) {
    switch (reason) {
        case TlsReason::timedOut:
            return "timed out";
        case TlsReason::serverClosed:
            return "the server closed the connection";
        case TlsReason::connectionReset:
            return "Connection reset by peer";
        case TlsReason::notTls:
            return "the server does not answer in TLS on this port (wrong version number)";
        case TlsReason::protocolTooOld:
            return "the server offers only TLS 1.0 or 1.1; Tarven needs TLS 1.2 or later";
        case TlsReason::noCommonCipher:
            return "the server and Tarven have no cipher suite in common";
        case TlsReason::dhKeyTooSmall:
            return "the server's Diffie-Hellman key is too small";
        case TlsReason::chainTooLarge:
            return "the server's certificate chain is larger than 256 KiB";
        case TlsReason::noSubjectAltName:
            return "the certificate has no subjectAltName (a name in its subject CN alone is not "
                   "accepted)";
        case TlsReason::hostnameMismatch:
            return "hostname mismatch";
        case TlsReason::addressMismatch:
            return "IP address mismatch";
        case TlsReason::certificateExpired:
            return "certificate has expired";
        case TlsReason::certificateNotYetValid:
            // Boards without a real-time clock start with a date far in the past.
            return "certificate is not yet valid (check the system clock)";
        case TlsReason::unknownIssuer:
            return "unable to get local issuer certificate";
        case TlsReason::selfSigned:
            return "self-signed certificate";
        case TlsReason::selfSignedInChain:
            return "self-signed certificate in certificate chain";
        case TlsReason::weakDigest:
            return "the certificate is signed with a weak digest (SHA-1 or MD5)";
        case TlsReason::keyTooShort:
            return "the certificate's key is too short";
        case TlsReason::caInPlaceOfLeaf:
            return "the server sent a CA certificate in place of its own (check the order of its "
                   "chain)";
        case TlsReason::notForServers:
            return "the certificate is not meant for a TLS server";
        case TlsReason::badSignature:
            return "certificate signature failure";
        case TlsReason::revoked:
            return "certificate revoked";
    }
    return "unknown reason";
}

bool tlsAlertReason(unsigned char description, TlsReason& reason) {
    static const TlsReasonOf<unsigned char> kAlerts[] = {
        {40, TlsReason::noCommonCipher},  // handshake_failure
        {70, TlsReason::protocolTooOld},  // protocol_version
        {71, TlsReason::noCommonCipher},  // insufficient_security
    };
    return findTlsReason(kAlerts, description, reason);
}

}  // namespace tarven

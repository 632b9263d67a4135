// The TLS backend on Schannel, through SSPI, with the system's certificate store. Another
// backend replaces this file alone. Only SSPI and CryptoAPI are called, which every Windows
// has, so no DLL ships beside the program.

#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
// Declares SCH_CREDENTIALS, the form that allows TLS 1.3.
#define SCHANNEL_USE_BLACKLISTS

// These headers depend on one another in this order.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <subauth.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
// clang-format on

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "net/TcpStream.h"
#include "net/TlsReasons.h"
#include "net/TlsSession.h"

namespace tarven {
namespace {

constexpr std::size_t kReadBlock = 16 * 1024;
// A record is at most 16 KiB of data plus its header and trailer; a handshake message that
// needs more input than this is refused, as browsers refuse chains above it.
constexpr std::size_t kMaxCertificateList = 256 * 1024;
constexpr std::size_t kMaxHandshakeInput = kMaxCertificateList + 16 * 1024;
constexpr unsigned char kHandshakeRecord = 0x16;
constexpr unsigned char kAlertRecord = 0x15;
constexpr DWORD kMinRsaBits = 2048;
// SECURITY_FLAG_IGNORE_CERT_CN_INVALID, from wininet.h, which this file needs nothing else of.
constexpr DWORD kSkipNameCheck = 0x00001000;
constexpr DWORD kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                  ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                  ISC_REQ_STREAM;
// The size of CERT_CHAIN_ENGINE_CONFIG up to dwExclusiveFlags, as Windows 7 defined it. Wine
// accepts only this one, and later systems accept it too.
constexpr DWORD kWin7EngineConfigSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, dwExclusiveFlags);

SOCKET socketOf(const TcpStream& stream) {
    return static_cast<SOCKET>(stream.handle);
}

// Sends all of `bytes`, each wait through the stream. 1 when sent; 0 when a wait timed out or
// failed; -1 when a send failed.
int sendRaw(TcpStream& stream, const char* bytes, std::size_t count) {
    while (count > 0) {
        if (stream.waitWritable() < 1)
            return 0;
        const int n = ::send(socketOf(stream), bytes,
                             static_cast<int>(std::min<std::size_t>(count, 1 << 30)), 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK)
                continue;
            return -1;
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return 1;
}

// Waits through the stream, then appends what arrived to `into`. Bytes appended; 0 when the
// wait timed out or failed; -1 when the peer closed (`error` 0) or the receive failed
// (`error` the socket's error).
int receiveRaw(TcpStream& stream, std::vector<char>& into, int& error) {
    error = 0;
    for (;;) {
        if (stream.waitReadable() < 1)
            return 0;
        char block[kReadBlock];
        const int n = ::recv(socketOf(stream), block, static_cast<int>(sizeof block), 0);
        if (n > 0) {
            into.insert(into.end(), block, block + n);
            return n;
        }
        if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)
            continue;
        error = n == 0 ? 0 : WSAGetLastError();
        return -1;
    }
}

// The system's text for an error code, without its closing full stop and line end.
std::string systemText(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result;
    if (length > 0 && text != nullptr)
        result.assign(text, length);
    LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == '.' || result.back() == ' '))
        result.pop_back();
    if (result.empty()) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08lx", static_cast<unsigned long>(code));
        result = std::string("error ") + hex;
    }
    return result;
}

std::wstring wide(const std::string& text) {
    if (text.empty())
        return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                            length);
    return result;
}

// An address literal, one pair of brackets stripped; empty for a host name. `address` and
// `size` receive its bytes (4 or 16).
std::string addressLiteral(const char* server, unsigned char (&address)[16], int& size) {
    std::string text = server;
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    if (::inet_pton(AF_INET6, text.c_str(), address) == 1) {
        size = 16;
        return text;
    }
    if (::inet_pton(AF_INET, text.c_str(), address) == 1) {
        size = 4;
        return text;
    }
    size = 0;
    return {};
}

struct FreeChain {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
struct FreeCertificate {
    void operator()(PCCERT_CONTEXT certificate) const { CertFreeCertificateContext(certificate); }
};
struct FreeDecoded {
    void operator()(void* decoded) const { LocalFree(decoded); }
};

// An extension of `certificate` decoded as `structType`; none when it has none.
std::unique_ptr<void, FreeDecoded> decodedExtension(PCCERT_CONTEXT certificate, const char* oid,
                                                    const char* structType) {
    const CERT_EXTENSION* extension = CertFindExtension(oid, certificate->pCertInfo->cExtension,
                                                        certificate->pCertInfo->rgExtension);
    if (extension == nullptr)
        return nullptr;
    void* decoded = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, structType, extension->Value.pbData,
                             extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded,
                             &size))
        return nullptr;
    return std::unique_ptr<void, FreeDecoded>(decoded);
}

bool hasSubjectAltName(PCCERT_CONTEXT certificate) {
    return CertFindExtension(szOID_SUBJECT_ALT_NAME2, certificate->pCertInfo->cExtension,
                             certificate->pCertInfo->rgExtension) != nullptr;
}

bool isAuthority(PCCERT_CONTEXT certificate) {
    auto decoded = decodedExtension(certificate, szOID_BASIC_CONSTRAINTS2, X509_BASIC_CONSTRAINTS2);
    return decoded && static_cast<CERT_BASIC_CONSTRAINTS2_INFO*>(decoded.get())->fCA;
}

// True when the certificate's subjectAltName holds the address. The system's SSL policy
// matches names only, so addresses are compared here.
bool namesAddress(PCCERT_CONTEXT certificate, const unsigned char* address, int size) {
    auto decoded = decodedExtension(certificate, szOID_SUBJECT_ALT_NAME2, X509_ALTERNATE_NAME);
    if (!decoded)
        return false;
    const auto* names = static_cast<CERT_ALT_NAME_INFO*>(decoded.get());
    for (DWORD i = 0; i < names->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
            entry.IPAddress.cbData == static_cast<DWORD>(size) &&
            std::memcmp(entry.IPAddress.pbData, address, static_cast<std::size_t>(size)) == 0)
            return true;
    }
    return false;
}

// Signatures that can be forged: MD5 and SHA-1, with RSA, DSA or ECDSA.
bool weakSignature(PCCERT_CONTEXT certificate) {
    static const char* const kWeak[] = {
        szOID_RSA_MD5RSA,         szOID_RSA_SHA1RSA, szOID_X957_SHA1DSA, szOID_ECDSA_SHA1,
        szOID_OIWSEC_sha1RSASign, szOID_RSA_MD2RSA,  szOID_RSA_MD4RSA,
    };
    const char* used = certificate->pCertInfo->SignatureAlgorithm.pszObjId;
    return used != nullptr &&
           std::any_of(std::begin(kWeak), std::end(kWeak),
                       [used](const char* o) { return std::strcmp(used, o) == 0; });
}

bool shortRsaKey(PCCERT_CONTEXT certificate) {
    const CERT_PUBLIC_KEY_INFO& key = certificate->pCertInfo->SubjectPublicKeyInfo;
    if (key.Algorithm.pszObjId == nullptr ||
        std::strcmp(key.Algorithm.pszObjId, szOID_RSA_RSA) != 0)
        return false;
    const DWORD bits =
        CertGetPublicKeyLength(X509_ASN_ENCODING, const_cast<CERT_PUBLIC_KEY_INFO*>(&key));
    return bits > 0 && bits < kMinRsaBits;
}

const TlsReasonOf<DWORD> kPolicyReasons[] = {
    {static_cast<DWORD>(CERT_E_EXPIRED), TlsReason::certificateExpired},
    {static_cast<DWORD>(CERT_E_CN_NO_MATCH), TlsReason::hostnameMismatch},
    {static_cast<DWORD>(CERT_E_UNTRUSTEDROOT), TlsReason::selfSigned},
    {static_cast<DWORD>(CERT_E_CHAINING), TlsReason::unknownIssuer},
    {static_cast<DWORD>(CERT_E_WRONG_USAGE), TlsReason::notForServers},
    {static_cast<DWORD>(TRUST_E_CERT_SIGNATURE), TlsReason::badSignature},
    {static_cast<DWORD>(CRYPT_E_REVOKED), TlsReason::revoked},
    {static_cast<DWORD>(SEC_E_CERT_EXPIRED), TlsReason::certificateExpired},
    {static_cast<DWORD>(SEC_E_UNTRUSTED_ROOT), TlsReason::unknownIssuer},
    {static_cast<DWORD>(SEC_E_WRONG_PRINCIPAL), TlsReason::hostnameMismatch},
    {static_cast<DWORD>(SEC_E_CERT_WRONG_USAGE), TlsReason::notForServers},
};

const TlsReasonOf<DWORD> kHandshakeReasons[] = {
    {static_cast<DWORD>(SEC_E_UNSUPPORTED_FUNCTION), TlsReason::protocolTooOld},
    {static_cast<DWORD>(SEC_E_ALGORITHM_MISMATCH), TlsReason::noCommonCipher},
    {static_cast<DWORD>(SEC_E_CERT_EXPIRED), TlsReason::certificateExpired},
    {static_cast<DWORD>(SEC_E_UNTRUSTED_ROOT), TlsReason::unknownIssuer},
    {static_cast<DWORD>(SEC_E_WRONG_PRINCIPAL), TlsReason::hostnameMismatch},
    {static_cast<DWORD>(SEC_E_CERT_WRONG_USAGE), TlsReason::notForServers},
};

const TlsReasonOf<int> kSocketReasons[] = {
    {0, TlsReason::serverClosed},
    {WSAECONNRESET, TlsReason::connectionReset},
    {WSAECONNABORTED, TlsReason::connectionReset},
};

std::string reasonOf(TlsReason reason) {
    return tlsReasonText(reason);
}

// The time check's failure for `leaf`: before its start or after its end.
TlsReason timeReason(PCCERT_CONTEXT leaf) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return CompareFileTime(&now, &leaf->pCertInfo->NotBefore) < 0
               ? TlsReason::certificateNotYetValid
               : TlsReason::certificateExpired;
}

// Checks the server's certificate the way the OpenSSL backend does, in the same order, so
// the same fault gives the same reason: the chain to a trusted root (against `engine`, the
// system's when none), its use for a TLS server, the server's name or address, then times,
// signatures and keys. Empty when it passes; otherwise the reason for a person.
std::string verifyServerCertificate(PCCERT_CONTEXT leaf, HCERTCHAINENGINE engine,
                                    const char* server) {
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {serverAuth};
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT built = nullptr;
    if (!CertGetCertificateChain(engine, leaf, nullptr, leaf->hCertStore, &parameters, 0, nullptr,
                                 &built))
        return systemText(GetLastError());
    const std::unique_ptr<const CERT_CHAIN_CONTEXT, FreeChain> chain(built);
    const DWORD status = chain->TrustStatus.dwErrorStatus;
    const CERT_SIMPLE_CHAIN* simple = chain->cChain > 0 ? chain->rgpChain[0] : nullptr;
    const DWORD length = simple != nullptr ? simple->cElement : 0;

    if (status & CERT_TRUST_IS_PARTIAL_CHAIN)
        return reasonOf(TlsReason::unknownIssuer);
    if (status & CERT_TRUST_IS_UNTRUSTED_ROOT)
        return reasonOf(length <= 1 ? TlsReason::selfSigned : TlsReason::selfSignedInChain);
    if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
        return reasonOf(isAuthority(leaf) ? TlsReason::caInPlaceOfLeaf : TlsReason::notForServers);

    // Like browsers, only the subjectAltName names the server; the subject CN never does.
    unsigned char address[16];
    int addressSize = 0;
    const std::string literal = addressLiteral(server, address, addressSize);
    if (!hasSubjectAltName(leaf))
        return reasonOf(TlsReason::noSubjectAltName);
    if (!literal.empty() && !namesAddress(leaf, address, addressSize))
        return reasonOf(TlsReason::addressMismatch);

    std::wstring name = wide(server);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA extra{};
    extra.cbSize = sizeof extra;
    extra.dwAuthType = AUTHTYPE_SERVER;
    extra.fdwChecks = literal.empty() ? 0 : kSkipNameCheck;
    extra.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &extra;
    CERT_CHAIN_POLICY_STATUS result{};
    result.cbSize = sizeof result;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &result))
        return systemText(GetLastError());
    if (result.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH))
        return reasonOf(TlsReason::hostnameMismatch);

    if (status & CERT_TRUST_IS_NOT_TIME_VALID)
        return reasonOf(timeReason(leaf));
    if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID)
        return reasonOf(TlsReason::badSignature);
    if (status & CERT_TRUST_IS_REVOKED)
        return reasonOf(TlsReason::revoked);
    if (status & CERT_TRUST_HAS_WEAK_SIGNATURE)
        return reasonOf(TlsReason::weakDigest);
    for (DWORD i = 0; i < length; ++i) {
        const CERT_CHAIN_ELEMENT* element = simple->rgpElement[i];
        // A root is trusted as it is; its own signature does not count.
        const bool root = i + 1 == length;
        if (!root && weakSignature(element->pCertContext))
            return reasonOf(TlsReason::weakDigest);
        if (shortRsaKey(element->pCertContext))
            return reasonOf(TlsReason::keyTooShort);
    }

    TlsReason known;
    if (result.dwError != 0) {
        if (!findTlsReason(kPolicyReasons, result.dwError, known))
            return systemText(result.dwError);
        if (known == TlsReason::certificateExpired)
            known = timeReason(leaf);
        else if (known == TlsReason::selfSigned && length > 1)
            known = TlsReason::selfSignedInChain;
        else if (known == TlsReason::notForServers && isAuthority(leaf))
            known = TlsReason::caInPlaceOfLeaf;
        return reasonOf(known);
    }
    // A chain that ends at an issuer nobody sent can pass the policy; its status still tells.
    if (status != 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08lx", static_cast<unsigned long>(status));
        return std::string("certificate chain error ") + hex;
    }
    return {};
}

// Follows the server's handshake records while they are in the clear (TLS 1.2's, up to its
// ChangeCipherSpec) for the length its Certificate message declares. A system's Schannel can
// have a lower limit of its own (Wine's is 128 KiB) and then gives no reason at all.
class CertificateSize {
  public:
    // False once the server's Certificate message declares more than the limit.
    bool feed(const char* bytes, std::size_t count) {
        while (count > 0 && !done_) {
            if (recordLeft_ == 0) {
                record_[recordAt_++] = static_cast<unsigned char>(*bytes++);
                --count;
                if (recordAt_ < sizeof record_)
                    continue;
                recordAt_ = 0;
                done_ = record_[0] != kHandshakeRecord;
                recordLeft_ = static_cast<std::size_t>(record_[3]) << 8 | record_[4];
                continue;
            }
            if (bodyLeft_ > 0) {
                const std::size_t skip = std::min({count, recordLeft_, bodyLeft_});
                bytes += skip;
                count -= skip;
                recordLeft_ -= skip;
                bodyLeft_ -= skip;
                continue;
            }
            message_[messageAt_++] = static_cast<unsigned char>(*bytes++);
            --count;
            --recordLeft_;
            if (messageAt_ < sizeof message_)
                continue;
            messageAt_ = 0;
            bodyLeft_ = static_cast<std::size_t>(message_[1]) << 16 |
                        static_cast<std::size_t>(message_[2]) << 8 | message_[3];
            if (message_[0] == kCertificateMessage && bodyLeft_ > kMaxCertificateList)
                tooLarge_ = done_ = true;
        }
        return !tooLarge_;
    }

  private:
    static constexpr unsigned char kCertificateMessage = 11;
    unsigned char record_[5] = {};
    std::size_t recordAt_ = 0;
    std::size_t recordLeft_ = 0;
    unsigned char message_[4] = {};
    std::size_t messageAt_ = 0;
    std::size_t bodyLeft_ = 0;
    bool done_ = false;
    bool tooLarge_ = false;
};

struct OpenSslSuite {
    DWORD number;  // the IANA number
    const char* name;
};

// Suites by their number, under the names OpenSSL prints for them.
const OpenSslSuite kSuites[] = {
    {0x1301, "TLS_AES_128_GCM_SHA256"},
    {0x1302, "TLS_AES_256_GCM_SHA384"},
    {0x1303, "TLS_CHACHA20_POLY1305_SHA256"},
    {0xC02B, "ECDHE-ECDSA-AES128-GCM-SHA256"},
    {0xC02C, "ECDHE-ECDSA-AES256-GCM-SHA384"},
    {0xC02F, "ECDHE-RSA-AES128-GCM-SHA256"},
    {0xC030, "ECDHE-RSA-AES256-GCM-SHA384"},
    {0xCCA8, "ECDHE-RSA-CHACHA20-POLY1305"},
    {0xCCA9, "ECDHE-ECDSA-CHACHA20-POLY1305"},
    {0xC023, "ECDHE-ECDSA-AES128-SHA256"},
    {0xC024, "ECDHE-ECDSA-AES256-SHA384"},
    {0xC027, "ECDHE-RSA-AES128-SHA256"},
    {0xC028, "ECDHE-RSA-AES256-SHA384"},
    {0xC009, "ECDHE-ECDSA-AES128-SHA"},
    {0xC00A, "ECDHE-ECDSA-AES256-SHA"},
    {0xC013, "ECDHE-RSA-AES128-SHA"},
    {0xC014, "ECDHE-RSA-AES256-SHA"},
    {0x009C, "AES128-GCM-SHA256"},
    {0x009D, "AES256-GCM-SHA384"},
    {0x003C, "AES128-SHA256"},
    {0x003D, "AES256-SHA256"},
    {0x002F, "AES128-SHA"},
    {0x0035, "AES256-SHA"},
};

// The suite's name as OpenSSL writes it, built from the connection's algorithms. The suite's
// own number is used only where it agrees with them: Wine's cipher information is garbled.
std::string cipherName(const SecPkgContext_ConnectionInfo& info, DWORD suiteNumber, bool ecdsaKey) {
    const bool tls13 = (info.dwProtocol & SP_PROT_TLS1_3_CLIENT) != 0;
    const bool aes = info.aiCipher == CALG_AES_128 || info.aiCipher == CALG_AES_256;
    const char* bits = info.aiCipher == CALG_AES_256 ? "256" : "128";
    for (const OpenSslSuite& suite : kSuites) {
        if (suite.number != suiteNumber)
            continue;
        const std::string name = suite.name;
        const bool sameProtocol = tls13 == (name.rfind("TLS_", 0) == 0);
        const bool sameCipher = !aes || name.find(std::string("AES") + bits) != std::string::npos ||
                                name.find(std::string("AES_") + bits) != std::string::npos;
        if (sameProtocol && sameCipher)
            return name;
    }
    if (!aes) {
        char unknown[32];
        std::snprintf(unknown, sizeof unknown, "cipher 0x%04x",
                      static_cast<unsigned>(info.aiCipher));
        return unknown;
    }
    const bool aes256 = info.aiCipher == CALG_AES_256;
    if (tls13)
        return aes256 ? "TLS_AES_256_GCM_SHA384" : "TLS_AES_128_GCM_SHA256";
    std::string exchange;
    if (info.aiExch == CALG_ECDH_EPHEM || info.aiExch == CALG_ECDH)
        exchange = ecdsaKey ? "ECDHE-ECDSA-" : "ECDHE-RSA-";
    else if (info.aiExch == CALG_DH_EPHEM)
        exchange = "DHE-RSA-";
    const std::string cipher = aes256 ? "AES256" : "AES128";
    // CBC suites name their MAC; an AEAD suite has none and names its PRF's hash.
    if (info.aiHash == CALG_SHA1)
        return exchange + cipher + "-SHA";
    if (info.aiHash == CALG_SHA_384 && !aes256)
        return exchange + cipher + "-SHA384";
    return exchange + cipher + (aes256 ? "-GCM-SHA384" : "-GCM-SHA256");
}

std::string protocolName(DWORD protocol) {
    if (protocol & SP_PROT_TLS1_3_CLIENT)
        return "TLSv1.3";
    if (protocol & SP_PROT_TLS1_2_CLIENT)
        return "TLSv1.2";
    return {};
}

// Reads the PEM certificates in `path` into `store`. The number added.
int addPemCertificates(const char* path, HCERTSTORE store) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return 0;
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    static const std::string kBegin = "-----BEGIN CERTIFICATE-----";
    static const std::string kEnd = "-----END CERTIFICATE-----";
    int added = 0;
    for (std::size_t at = text.find(kBegin); at != std::string::npos; at = text.find(kBegin, at)) {
        const std::size_t end = text.find(kEnd, at);
        if (end == std::string::npos)
            break;
        const std::string block = text.substr(at, end + kEnd.size() - at);
        at = end + kEnd.size();
        DWORD size = 0;
        if (!CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()),
                                  CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
            continue;
        std::vector<BYTE> der(size);
        if (CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()),
                                 CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr) &&
            CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                             CERT_STORE_ADD_ALWAYS, nullptr))
            ++added;
    }
    return added;
}

}  // namespace

// Schannel's credentials, freed with the last holder: a session can outlive the context that
// made it, and its close_notify still needs them.
struct Credentials {
    CredHandle handle{};
    Credentials() = default;
    Credentials(const Credentials&) = delete;
    Credentials& operator=(const Credentials&) = delete;
    ~Credentials() { FreeCredentialsHandle(&handle); }
};

struct TlsContext::Backend {
    std::shared_ptr<Credentials> credentials;
    HCERTSTORE roots = nullptr;
    HCERTCHAINENGINE engine = nullptr;

    Backend() = default;
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;
    ~Backend() {
        if (engine != nullptr)
            CertFreeCertificateChainEngine(engine);
        if (roots != nullptr)
            CertCloseStore(roots, 0);
    }

    // The credentials for TLS 1.2 and 1.3 without finite-field DHE, where the system knows
    // that form; otherwise for TLS 1.2 with the older form. Certificates are always checked
    // here, not by Schannel: Wine's checks nothing itself.
    bool acquire() {
        constexpr DWORD kFlags =
            SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
        wchar_t dh[] = L"DH";
        CRYPTO_SETTINGS noDhe{};
        noDhe.eAlgorithmUsage = TlsParametersCngAlgUsageKeyExchange;
        noDhe.strCngAlgId.Buffer = dh;
        noDhe.strCngAlgId.Length = static_cast<USHORT>(2 * sizeof(wchar_t));
        noDhe.strCngAlgId.MaximumLength = noDhe.strCngAlgId.Length;
        TLS_PARAMETERS parameters{};
        parameters.grbitDisabledProtocols =
            static_cast<DWORD>(~(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT));
        parameters.cDisabledCrypto = 1;
        parameters.pDisabledCrypto = &noDhe;
        SCH_CREDENTIALS modern{};
        modern.dwVersion = SCH_CREDENTIALS_VERSION;
        modern.dwFlags = kFlags;
        modern.cTlsParameters = 1;
        modern.pTlsParameters = &parameters;
        wchar_t package[] = UNISP_NAME_W;
        TimeStamp expiry;
        CredHandle handle{};
        bool acquired =
            AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &modern,
                                      nullptr, nullptr, &handle, &expiry) == SEC_E_OK;
        // The older form: only what is listed is offered, so DHE stays out.
        ALG_ID algorithms[] = {CALG_ECDH_EPHEM, CALG_RSA_KEYX, CALG_AES_128,
                               CALG_AES_256,    CALG_SHA_256,  CALG_SHA_384,
                               CALG_SHA1,       CALG_ECDSA,    CALG_RSA_SIGN};
        SCHANNEL_CRED older{};
        older.dwVersion = SCHANNEL_CRED_VERSION;
        older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        older.cSupportedAlgs = static_cast<DWORD>(std::size(algorithms));
        older.palgSupportedAlgs = algorithms;
        older.dwFlags = kFlags;
        if (!acquired)
            acquired =
                AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &older,
                                          nullptr, nullptr, &handle, &expiry) == SEC_E_OK;
        if (!acquired)
            return false;
        credentials = std::make_shared<Credentials>();
        credentials->handle = handle;
        return true;
    }
};

struct TlsSession::Backend {
    CtxtHandle context{};
    bool haveContext = false;
    TcpStream* stream = nullptr;
    SecPkgContext_StreamSizes sizes{};
    std::vector<char> incoming;  // received, not yet decrypted
    std::vector<char> plain;     // decrypted, not yet delivered
    std::size_t plainAt = 0;
    bool sound = true;       // no fatal error yet, so a close_notify may still be sent
    bool peerEnded = false;  // the server's close_notify arrived
    // The alert the server sent in the clear during the handshake, when one came.
    bool alerted = false;
    unsigned char alert = 0;
    CertificateSize certificateSize;
    bool sawRecord = false;  // the first byte from the server has been looked at
    bool notTls = false;

    Backend() = default;
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;
    ~Backend() {
        if (haveContext)
            DeleteSecurityContext(&context);
    }

    // Looks at what starts a record before Schannel does: a server that is not speaking TLS,
    // or one that refuses with an alert, says more this way than Schannel's codes do.
    void inspect(std::size_t recordStart) {
        if (incoming.size() <= recordStart)
            return;
        const auto type = static_cast<unsigned char>(incoming[recordStart]);
        if (!sawRecord) {
            sawRecord = true;
            notTls = type != kHandshakeRecord && type != kAlertRecord;
        }
        if (type == kAlertRecord && incoming.size() >= recordStart + 7) {
            alerted = true;
            alert = static_cast<unsigned char>(incoming[recordStart + 6]);
        }
    }

    // Sends the output token of a call and frees it. sendRaw's result.
    int sendToken(SecBuffer& token) {
        int sent = 1;
        if (token.pvBuffer != nullptr) {
            if (token.cbBuffer > 0)
                sent = sendRaw(*stream, static_cast<const char*>(token.pvBuffer), token.cbBuffer);
            FreeContextBuffer(token.pvBuffer);
            token.pvBuffer = nullptr;
        }
        return sent;
    }

    // Runs the handshake from what `incoming` holds, first with no context when `first`.
    // Empty when it completed; otherwise the reason for a person.
    std::string handshake(const wchar_t* targetName, bool first) {
        bool needInput = !first && incoming.empty();
        for (;;) {
            if (needInput) {
                if (incoming.size() > kMaxHandshakeInput)
                    return reasonOf(TlsReason::chainTooLarge);
                const std::size_t before = incoming.size();
                int error = 0;
                const int got = receiveRaw(*stream, incoming, error);
                if (got == 0)
                    return reasonOf(TlsReason::timedOut);
                if (got < 0) {
                    TlsReason known;
                    if (alerted && tlsAlertReason(alert, known))
                        return reasonOf(known);
                    return findTlsReason(kSocketReasons, error, known) ? reasonOf(known)
                                                                       : systemText(error);
                }
                if (!certificateSize.feed(incoming.data() + before, static_cast<std::size_t>(got)))
                    return reasonOf(TlsReason::chainTooLarge);
                if (before == 0)
                    inspect(0);
                if (notTls)
                    return reasonOf(TlsReason::notTls);
            }
            SecBuffer in[2] = {
                {static_cast<unsigned long>(incoming.size()), SECBUFFER_TOKEN,
                 incoming.empty() ? nullptr : incoming.data()},
                {0, SECBUFFER_EMPTY, nullptr},
            };
            SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
            SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
            SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
            unsigned long attributes = 0;
            const SECURITY_STATUS status = InitializeSecurityContextW(
                &credentials->handle, first ? nullptr : &context, const_cast<wchar_t*>(targetName),
                kContextRequest, 0, 0, first ? nullptr : &inDesc, 0, first ? &context : nullptr,
                &outDesc, &attributes, nullptr);
            if (first && !FAILED(status))
                haveContext = true;
            first = false;
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                if (out[0].pvBuffer != nullptr)
                    FreeContextBuffer(out[0].pvBuffer);
                needInput = true;
                continue;
            }
            const int sent = sendToken(out[0]);
            if (FAILED(status)) {
                TlsReason known;
                if (alerted && tlsAlertReason(alert, known))
                    return reasonOf(known);
                return findTlsReason(kHandshakeReasons, static_cast<DWORD>(status), known)
                           ? reasonOf(known)
                           : systemText(static_cast<DWORD>(status));
            }
            if (sent < 1)
                return reasonOf(sent == 0 ? TlsReason::timedOut : TlsReason::connectionReset);
            // What Schannel did not take belongs to the next message.
            if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 &&
                in[1].cbBuffer <= incoming.size()) {
                incoming.erase(incoming.begin(),
                               incoming.end() - static_cast<std::ptrdiff_t>(in[1].cbBuffer));
                inspect(0);
            } else {
                incoming.clear();
            }
            if (status == SEC_E_OK)
                return {};
            // SEC_I_INCOMPLETE_CREDENTIALS (a server that asks for a client certificate) goes on
            // without one.
            needInput = incoming.empty();
        }
    }

    std::shared_ptr<Credentials> credentials;
};

TlsContext::TlsContext(TlsVerify verify, const char* caFile)
    : verify_(verify), backend_(std::make_unique<Backend>()) {
    if (caFile != nullptr) {
        backend_->roots = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
        if (backend_->roots == nullptr || addPemCertificates(caFile, backend_->roots) == 0)
            return;
        CERT_CHAIN_ENGINE_CONFIG config{};
        config.cbSize = kWin7EngineConfigSize;
        config.hExclusiveRoot = backend_->roots;
        if (!CertCreateCertificateChainEngine(&config, &backend_->engine)) {
            backend_->engine = nullptr;
            return;
        }
    }
    backend_->acquire();
}

TlsContext::~TlsContext() = default;

bool TlsContext::ready() const {
    return backend_->credentials != nullptr;
}

TlsSession::TlsSession(std::unique_ptr<Backend> backend) : backend_(std::move(backend)) {}

TlsSession::~TlsSession() = default;

std::unique_ptr<TlsSession> TlsSession::start(const TlsContext& context, TcpStream& stream,
                                              const char* server, std::string& report) {
    report = "the TLS library could not be set up";
    if (!context.ready() || stream.handle == -1 || server == nullptr)
        return nullptr;
    auto backend = std::make_unique<Backend>();
    backend->stream = &stream;
    backend->credentials = context.backend()->credentials;

    unsigned char address[16];
    int addressSize = 0;
    // SNI is for host names only; an address is never sent as one.
    const bool literal = !addressLiteral(server, address, addressSize).empty();
    const std::wstring target = literal ? std::wstring() : wide(server);
    report = backend->handshake(literal ? nullptr : target.c_str(), true);
    if (!report.empty())
        return nullptr;

    SecPkgContext_ConnectionInfo info{};
    if (QueryContextAttributesW(&backend->context, SECPKG_ATTR_CONNECTION_INFO, &info) !=
            SEC_E_OK ||
        QueryContextAttributesW(&backend->context, SECPKG_ATTR_STREAM_SIZES, &backend->sizes) !=
            SEC_E_OK) {
        report = "the TLS library could not be set up";
        return nullptr;
    }
    const std::string protocol = protocolName(info.dwProtocol);
    // A backstop for systems that ignore the offered list: these are refused as the other
    // backend refuses them, by never agreeing to them.
    if (protocol.empty()) {
        report = reasonOf(TlsReason::protocolTooOld);
        return nullptr;
    }
    if (info.aiExch == CALG_DH_EPHEM) {
        report = reasonOf(TlsReason::noCommonCipher);
        return nullptr;
    }

    PCCERT_CONTEXT remote = nullptr;
    if (QueryContextAttributesW(&backend->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) !=
            SEC_E_OK ||
        remote == nullptr) {
        report = reasonOf(TlsReason::unknownIssuer);
        return nullptr;
    }
    const std::unique_ptr<const CERT_CONTEXT, FreeCertificate> leaf(remote);
    if (context.verify() == TlsVerify::chainAndName) {
        report = verifyServerCertificate(leaf.get(), context.backend()->engine, server);
        if (!report.empty())
            return nullptr;
    }

    SecPkgContext_CipherInfo suite{};
    const DWORD suiteNumber =
        QueryContextAttributesW(&backend->context, SECPKG_ATTR_CIPHER_INFO, &suite) == SEC_E_OK
            ? suite.dwCipherSuite
            : 0;
    const char* keyType = leaf->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId;
    const bool ecdsa = keyType != nullptr && std::strcmp(keyType, szOID_ECC_PUBLIC_KEY) == 0;
    report = protocol + " " + cipherName(info, suiteNumber, ecdsa);
    return std::unique_ptr<TlsSession>(new TlsSession(std::move(backend)));
}

int TlsSession::send(const char* bytes, int count) {
    Backend& b = *backend_;
    int sent = 0;
    const std::size_t chunkLimit = b.sizes.cbMaximumMessage > 0 ? b.sizes.cbMaximumMessage : 16384;
    std::vector<char> record(b.sizes.cbHeader + chunkLimit + b.sizes.cbTrailer);
    while (sent < count) {
        if (!b.sound)
            return sent;
        const std::size_t chunk = std::min(chunkLimit, static_cast<std::size_t>(count - sent));
        std::memcpy(record.data() + b.sizes.cbHeader, bytes + sent, chunk);
        SecBuffer buffers[4] = {
            {b.sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
            {static_cast<unsigned long>(chunk), SECBUFFER_DATA, record.data() + b.sizes.cbHeader},
            {b.sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + b.sizes.cbHeader + chunk},
            {0, SECBUFFER_EMPTY, nullptr},
        };
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        if (EncryptMessage(&b.context, 0, &desc, 0) != SEC_E_OK) {
            b.sound = false;
            return sent;
        }
        const int result = sendRaw(*b.stream, record.data(),
                                   buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        if (result == 0)
            return -1;
        if (result < 0) {
            b.sound = false;
            return sent;
        }
        sent += static_cast<int>(chunk);
    }
    return sent;
}

int TlsSession::receive(char* buffer, int size) {
    Backend& b = *backend_;
    for (;;) {
        // Decrypted bytes already held go first, before any wait.
        if (b.plainAt < b.plain.size()) {
            const std::size_t n =
                std::min(static_cast<std::size_t>(size), b.plain.size() - b.plainAt);
            std::memcpy(buffer, b.plain.data() + b.plainAt, n);
            b.plainAt += n;
            if (b.plainAt == b.plain.size()) {
                b.plain.clear();
                b.plainAt = 0;
            }
            return static_cast<int>(n);
        }
        if (!b.sound || b.peerEnded)
            return -1;
        if (!b.incoming.empty()) {
            SecBuffer buffers[4] = {
                {static_cast<unsigned long>(b.incoming.size()), SECBUFFER_DATA, b.incoming.data()},
                {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr},
            };
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS status = DecryptMessage(&b.context, &desc, 0, nullptr);
            if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE ||
                status == SEC_I_CONTEXT_EXPIRED) {
                std::vector<char> extra;
                for (const SecBuffer& part : buffers) {
                    if (part.BufferType == SECBUFFER_DATA && part.cbBuffer > 0) {
                        const char* data = static_cast<const char*>(part.pvBuffer);
                        b.plain.insert(b.plain.end(), data, data + part.cbBuffer);
                    } else if (part.BufferType == SECBUFFER_EXTRA && part.cbBuffer > 0) {
                        const char* data = static_cast<const char*>(part.pvBuffer);
                        extra.assign(data, data + part.cbBuffer);
                    }
                }
                b.incoming = std::move(extra);
                if (status == SEC_I_CONTEXT_EXPIRED) {
                    b.peerEnded = true;
                } else if (status == SEC_I_RENEGOTIATE) {
                    // TLS 1.3 sends tickets and key updates after the handshake; Schannel
                    // takes them through the handshake call.
                    if (!b.handshake(nullptr, false).empty())
                        b.sound = false;
                }
                continue;
            }
            if (status != SEC_E_INCOMPLETE_MESSAGE) {
                b.sound = false;
                return -1;
            }
        }
        int error = 0;
        const int got = receiveRaw(*b.stream, b.incoming, error);
        if (got == 0)
            return 0;
        if (got < 0) {
            // A close without close_notify ends an answer like a plain close.
            b.sound = false;
            return -1;
        }
    }
}

void TlsSession::shutdown() {
    Backend& b = *backend_;
    if (!b.sound)
        return;
    b.sound = false;
    // Only our close_notify is sent; the server's is not waited for.
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control[1] = {{sizeof type, SECBUFFER_TOKEN, &type}};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, control};
    if (ApplyControlToken(&b.context, &controlDesc) != SEC_E_OK)
        return;
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
    unsigned long attributes = 0;
    const SECURITY_STATUS status =
        InitializeSecurityContextW(&b.credentials->handle, &b.context, nullptr, kContextRequest, 0,
                                   0, nullptr, 0, nullptr, &outDesc, &attributes, nullptr);
    if (status == SEC_E_OK || status == SEC_I_CONTEXT_EXPIRED)
        b.sendToken(out[0]);
    else if (out[0].pvBuffer != nullptr)
        FreeContextBuffer(out[0].pvBuffer);
}

bool tlsAvailable() {
    return true;
}

std::string tlsLibraryVersion() {
    return "Schannel";
}

}  // namespace tarven

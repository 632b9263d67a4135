#include "support/TestCertificates.h"

#include <arpa/inet.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>

namespace tarven::test {
namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

constexpr long kDay = 24 * 60 * 60;

// True unless the certificate's signature is an ECDSA one whose r or s has fewer than 32
// bytes.
bool fullLengthSignature(const X509* certificate) {
    const ASN1_BIT_STRING* signature = nullptr;
    const X509_ALGOR* algorithm = nullptr;
    X509_get0_signature(&signature, &algorithm, certificate);
    if (signature == nullptr || OBJ_obj2nid(algorithm->algorithm) != NID_ecdsa_with_SHA256)
        return true;
    const unsigned char* der = signature->data;
    ECDSA_SIG* decoded = d2i_ECDSA_SIG(nullptr, &der, signature->length);
    if (decoded == nullptr)
        return true;
    const bool full = BN_num_bytes(ECDSA_SIG_get0_r(decoded)) == 32 &&
                      BN_num_bytes(ECDSA_SIG_get0_s(decoded)) == 32;
    ECDSA_SIG_free(decoded);
    return full;
}

// P-256 keys are quick to make, so each test can have its own.
Key newKey() {
    return Key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
}

constexpr unsigned kRsaBits = 2048;

bool addExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (extension == nullptr)
        return false;
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

std::string subjectAltNames(const std::vector<std::string>& names) {
    std::string value;
    for (const std::string& name : names) {
        unsigned char address[16];
        const bool literal = inet_pton(AF_INET, name.c_str(), address) == 1 ||
                             inet_pton(AF_INET6, name.c_str(), address) == 1;
        if (!value.empty())
            value += ',';
        value += literal ? "IP:" : "DNS:";
        value += name;
    }
    return value;
}

// A certificate for `key` named `commonName`, signed by `issuerKey` as `issuer` (itself when
// none), valid from `fromDays` to `toDays` days from now.
Certificate makeCertificate(EVP_PKEY* key, const std::string& commonName, X509* issuer,
                            EVP_PKEY* issuerKey, bool authority,
                            const std::vector<std::string>& names, int fromDays, int toDays) {
    static std::atomic<long> serial{1};
    Certificate certificate(X509_new(), &X509_free);
    if (!certificate)
        return certificate;
    X509* x = certificate.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial++);
    X509_gmtime_adj(X509_getm_notBefore(x), fromDays * kDay);
    X509_gmtime_adj(X509_getm_notAfter(x), toDays * kDay);
    X509_set_pubkey(x, key);
    X509_NAME* subject = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509* signer = issuer != nullptr ? issuer : x;
    X509_set_issuer_name(x, X509_get_subject_name(signer));
    bool ok = addExtension(x, signer, NID_basic_constraints,
                           authority ? "critical,CA:TRUE" : "critical,CA:FALSE") &&
              addExtension(x, signer, NID_subject_key_identifier, "hash") &&
              addExtension(x, signer, NID_authority_key_identifier, "keyid:always");
    if (authority) {
        ok = ok && addExtension(x, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else if (!names.empty()) {
        ok = ok && addExtension(x, signer, NID_subject_alt_name, subjectAltNames(names));
    }
    EVP_PKEY* signingKey = issuerKey != nullptr ? issuerKey : key;
    // Wine's certificate checks (at times) call a valid ECDSA signature bad, seemingly when
    // r or s is shorter than the curve; signing again until both are full keeps them off.
    bool signedWell = ok && X509_sign(x, signingKey, EVP_sha256()) != 0;
    for (int again = 0; signedWell && again < 64 && !fullLengthSignature(x); ++again)
        signedWell = X509_sign(x, signingKey, EVP_sha256()) != 0;
    if (!signedWell)
        certificate.reset();
    return certificate;
}

bool writeCertificate(const std::filesystem::path& path, X509* certificate) {
    BIO* file = BIO_new_file(path.c_str(), "w");
    if (file == nullptr)
        return false;
    const bool written = PEM_write_bio_X509(file, certificate) == 1;
    BIO_free(file);
    return written;
}

bool writeKey(const std::filesystem::path& path, EVP_PKEY* key) {
    BIO* file = BIO_new_file(path.c_str(), "w");
    if (file == nullptr)
        return false;
    const bool written =
        PEM_write_bio_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    BIO_free(file);
    return written;
}

// A new key and its server certificate, signed by `issuer` (itself when none), written as
// "<name>.pem" and "<name>.key" in `folder`.
TestAuthority::Server issueServer(const std::filesystem::path& folder, const std::string& name,
                                  const std::vector<std::string>& names, X509* issuer,
                                  EVP_PKEY* issuerKey, int fromDays, int toDays,
                                  TestAuthority::Form form = TestAuthority::Form::usual) {
    TestAuthority::Server server{folder / (name + ".pem"), folder / (name + ".key")};
    Key key =
        form == TestAuthority::Form::rsaKey ? Key(EVP_RSA_gen(kRsaBits), &EVP_PKEY_free) : newKey();
    if (!key)
        return server;
    const std::vector<std::string> altNames =
        form == TestAuthority::Form::commonNameOnly ? std::vector<std::string>{} : names;
    Certificate certificate = makeCertificate(key.get(), names.empty() ? name : names.front(),
                                              issuer, issuerKey, false, altNames, fromDays, toDays);
    if (certificate) {
        writeCertificate(server.certificateFile, certificate.get());
        writeKey(server.keyFile, key.get());
    }
    return server;
}

}  // namespace

struct TestAuthority::Issuer {
    Key key;
    Certificate certificate;
};

TestAuthority::~TestAuthority() = default;

TestAuthority::TestAuthority(const std::filesystem::path& folder, const std::string& name)
    : folder_(folder), certificateFile_(folder / (name + ".pem")) {
    Key key = newKey();
    if (!key)
        return;
    Certificate certificate =
        makeCertificate(key.get(), "Tarven test CA " + name, nullptr, nullptr, true, {}, -1, 30);
    if (!certificate || !writeCertificate(certificateFile_, certificate.get()))
        return;
    issuer_.reset(new Issuer{std::move(key), std::move(certificate)});
}

TestAuthority::Server TestAuthority::issue(const std::string& name,
                                           const std::vector<std::string>& names, int fromDays,
                                           int toDays, Form form) const {
    if (!ready())
        return {folder_ / (name + ".pem"), folder_ / (name + ".key")};
    return issueServer(folder_, name, names, issuer_->certificate.get(), issuer_->key.get(),
                       fromDays, toDays, form);
}

TestAuthority::Server selfSigned(const std::filesystem::path& folder,
                                 const std::vector<std::string>& names) {
    return issueServer(folder, "self", names, nullptr, nullptr, -1, 30);
}

}  // namespace tarven::test

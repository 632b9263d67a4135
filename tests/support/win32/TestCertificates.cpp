// Certificates made by the Linux build's tarven-tls-helper, as this build has no OpenSSL; the
// files come out as the OpenSSL backend writes them.

#include "support/TestCertificates.h"

#include <fstream>

#include "LinuxHelper.h"

namespace tarven::test {
namespace {

bool writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

const char* formName(TestAuthority::Form form) {
    switch (form) {
        case TestAuthority::Form::commonNameOnly:
            return "cn";
        case TestAuthority::Form::rsaKey:
            return "rsa";
        case TestAuthority::Form::usual:
            break;
    }
    return "usual";
}

// Asks for a server certificate and writes it as "<name>.pem" and "<name>.key" in `folder`.
TestAuthority::Server issueServer(const LinuxHelper& helper, const std::filesystem::path& folder,
                                  const std::string& name, const HelperMessage& request) {
    TestAuthority::Server server{folder / (name + ".pem"), folder / (name + ".key")};
    HelperMessage answer;
    if (helper.ask(request, answer) && answer.kind == 'o' && answer.fields.size() == 2) {
        writeFile(server.certificateFile, answer.fields[0]);
        writeFile(server.keyFile, answer.fields[1]);
    }
    return server;
}

}  // namespace

struct TestAuthority::Issuer {
    LinuxHelper helper;
};

TestAuthority::~TestAuthority() = default;

TestAuthority::TestAuthority(const std::filesystem::path& folder, const std::string& name)
    : folder_(folder), certificateFile_(folder / (name + ".pem")) {
    auto issuer = std::make_unique<Issuer>();
    HelperMessage answer;
    if (issuer->helper.ask({'a', {name}}, answer) && answer.kind == 'o' &&
        answer.fields.size() == 1 && writeFile(certificateFile_, answer.fields[0]))
        issuer_ = std::move(issuer);
}

TestAuthority::Server TestAuthority::issue(const std::string& name,
                                           const std::vector<std::string>& names, int fromDays,
                                           int toDays, Form form) const {
    if (!ready())
        return {folder_ / (name + ".pem"), folder_ / (name + ".key")};
    HelperMessage request{'i',
                          {name, std::to_string(fromDays), std::to_string(toDays), formName(form)}};
    request.fields.insert(request.fields.end(), names.begin(), names.end());
    return issueServer(issuer_->helper, folder_, name, request);
}

TestAuthority::Server selfSigned(const std::filesystem::path& folder,
                                 const std::vector<std::string>& names) {
    const LinuxHelper helper;
    return issueServer(helper, folder, "self", {'S', names});
}

}  // namespace tarven::test

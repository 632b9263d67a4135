#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tarven::test {

// A throw-away certificate authority and the server certificates it signs, made when a test
// runs so that no key is committed and nothing expires. Files are PEM, in `folder`.
class TestAuthority {
  public:
    explicit TestAuthority(const std::filesystem::path& folder, const std::string& name = "ca");
    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;

    ~TestAuthority();
    bool ready() const { return issuer_ != nullptr; }
    // The authority's own certificate, for "TARVEN_cafile:".
    const std::filesystem::path& certificateFile() const { return certificateFile_; }

    struct Server {
        std::filesystem::path certificateFile;
        std::filesystem::path keyFile;
    };
    enum class Form {
        usual,           // a P-256 key, the names in the subjectAltName
        commonNameOnly,  // no subjectAltName: the first name only, in the subject CN
        rsaKey,          // an RSA key, for the suites that need one
    };
    // A server certificate for the DNS names and IP addresses in `names` ("localhost",
    // "127.0.0.1", "::1"), valid from `fromDays` to `toDays` days from now.
    Server issue(const std::string& name, const std::vector<std::string>& names, int fromDays = -1,
                 int toDays = 30, Form form = Form::usual) const;

  private:
    std::filesystem::path folder_;
    std::filesystem::path certificateFile_;
    // What signs: its key and certificate, or the link to the program that holds them.
    struct Issuer;
    std::unique_ptr<Issuer> issuer_;
};

// A self-signed server certificate for `names`, trusted by nobody.
TestAuthority::Server selfSigned(const std::filesystem::path& folder,
                                 const std::vector<std::string>& names);

}  // namespace tarven::test

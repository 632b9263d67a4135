#include "request/Redaction.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "request/SecretMask.h"

namespace tarven {
namespace {

struct Case {
    const char* line;
    const char* shown;
};

TEST(RedactionTest, MasksSecretQueryValuesOnly) {
    const Case cases[] = {
        {"GET /u?hostname=h&myip=1.2.3.4 HTTP/1.0", "GET /u?hostname=h&myip=1.2.3.4 HTTP/1.0"},
        {"GET /u?Api_KEY=k1&x=2&PassWord=p HTTP/1.1",
         "GET /u?Api_KEY=****&x=2&PassWord=**** HTTP/1.1"},
        {"GET /u?auth=a#token=t HTTP/1.0", "GET /u?auth=****#token=t HTTP/1.0"},
        {"GET /u?token=&secret HTTP/1.0", "GET /u?token=&secret HTTP/1.0"},  // nothing to hide
        {"GET /u?a=1&&token=t", "GET /u?a=1&&token=****"},
        {"GET /token/abc HTTP/1.0", "GET /token/abc HTTP/1.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(maskRequestLine(c.line), c.shown) << c.line;
}

TEST(RedactionTest, MasksTheValuesOfAuthorisationAndCookieLines) {
    const Case cases[] = {
        {"Authorization: Basic YWxpY2U6czNjcmV0\r\n", "Authorization: Basic ****\r\n"},
        {"proxy-authorization: Bearer abc.def", "proxy-authorization: Bearer ****"},
        {"Authorization: opaque", "Authorization: ****"},
        {"COOKIE: a=1; b=2\r\n", "COOKIE: ****\r\n"},
        {"Cookie:\r\n", "Cookie:\r\n"},
        {"X-Auth-Token: t", "X-Auth-Token: ****"},
        {"X-Api-Key: k1\r\n", "X-Api-Key: ****\r\n"},
        {"x-my-secret: Bearer  abc", "x-my-secret: Bearer  ****"},
        {"Tarven_basicauth: alice:pw", "Tarven_basicauth: ****"},
        {"Cookie: Bearer x", "Cookie: ****"},  // a cookie has no scheme
        {"X-Pass-Word", "X-Pass-Word"},
        {"Host: example.org", "Host: example.org"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(maskHeaderLine(c.line), c.shown) << c.line;
}

TEST(RedactionTest, MasksSecretBodyValues) {
    const Case cases[] = {
        {"user=bob&password=pw&x=1", "user=bob&password=****&x=1"},
        {"{\"password\": \"pw\"}", "{\"password\": \"pw\"}"},
        {"api_key=&token", "api_key=&token"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(maskBody(c.line), c.shown) << c.line;
}

// The secrets of a description, masked wherever they show up in an answer that comes in
// pieces: the same as masking the whole answer at once.
TEST(RedactionTest, MasksTheDescriptionsSecretValuesAcrossPieces) {
    const struct {
        const char* description;
        std::vector<std::string> pieces;
        const char* shown;
    } cases[] = {
        {"TARVEN_request: GET /?token=TOK123 HTTP/1.0\n",
         {"echo token=TO", "K12", "3!"},
         "echo token=****!"},
        {"TARVEN_basicauth: alice:S3cretPW\n",
         {"auth=Basic YWxpY2U6UzNjcmV0UFc=; ", "alice:S3cretPW; S3cr", "etPW"},
         "auth=Basic ****; ****; ****"},
        {"Tarven_BasicAuth: alice:CasePW\n", {"CasePW"}, "****"},
        {"X-Api-Key: Key-1234\nX-Auth-Token: Bearer tok-5678\n",
         {"Key-1234 Bearer tok-56", "78 tok-567"},
         "**** Bearer **** tok-567"},
        {"TARVEN_postbody: user=bob&password=BODYPW555\n",
         {"user=bob&password=BODYPW55", "5"},
         "user=bob&password=****"},
        // Short values would blank the log; and a text with no secret passes as it is.
        {"TARVEN_basicauth: al:pw1\nX-Api-Key: k\n", {"al:pw1 pw1 k"}, "**** pw1 k"},
        {"Host: example.org\n", {"example.org"}, "example.org"},
        // Where two secrets start at one place the longer wins, even when it ends later.
        {"TARVEN_request: GET /?key=abcd&token=abcdefgh\n", {"abcdefg", "h abcdx"}, "**** ****x"},
    };
    for (const auto& c : cases) {
        DescriptionFile description;
        std::string bytes = c.description;
        description.parse(bytes.data());
        SecretMask whole(secretValues(description));
        std::string all;
        std::string streamed;
        for (const std::string& piece : c.pieces) {
            all += piece;
            streamed += whole.feed(piece);
        }
        streamed += whole.finish();
        EXPECT_EQ(streamed, c.shown) << c.description;
        EXPECT_EQ(whole.mask(all), c.shown) << c.description;
    }
}

}  // namespace
}  // namespace tarven

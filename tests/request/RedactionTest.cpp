#include "request/Redaction.h"

#include <gtest/gtest.h>

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
        {"X-Auth-Token: t", "X-Auth-Token: t"},
        {"Host: example.org", "Host: example.org"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(maskHeaderLine(c.line), c.shown) << c.line;
}

}  // namespace
}  // namespace tarven

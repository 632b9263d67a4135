#pragma once

// The fixture of the bad-description cases, shared by those for every system and those for
// Linux alone.

#include <memory>
#include <string>

#include "BuildInfo.h"
#include "platform/TextCodec.h"
#include "support/RunFixture.h"

namespace tarven::test {

inline const std::string kNotLoaded =
    "tarven.txt Loading...\r\nLoading file failed.\r\n"
    "Please create a tarven.txt file first.\r\nThe creation method is in " +
    platform::utf16ToUtf8(build::kDescriptionDocUrl) + "\r\n";
inline const std::string kNoServer =
    "tarven.txt Loading...\r\n** TARVEN_connect was not specified.\r\n";
inline const std::string kBadAnswer = "HTTP/1.0 200 OK\r\n\r\nok\r\n";

class BadDescriptionTest : public RunFixture {
  protected:
    BadDescriptionTest() {
        peer = std::make_unique<TestPeer>(PeerScript{true, kBadAnswer, PeerScript::After::close});
    }
    // The log from the server's line on, for a run that sent the request line, then `sent`,
    // and got the answer.
    std::string transcript(const std::string& request, const std::string& sent) const {
        return "127.0.0.1:" + peer->portText() + "\r\n** Connceted.\r\n" + request + "\r\n" + sent +
               "\r\n\r\n** Reciving...\r\n" + kBadAnswer + "** Socket close.\r\n" + kFixedDateLine;
    }
};

}  // namespace tarven::test

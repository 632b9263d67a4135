#include "log/RunSummary.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/TextCodec.h"

namespace tarven {
namespace {

constexpr platform::LocalTime kEnd{2026, 12, 8, 9, 5, 59};

std::string tipAfter(const RunOutcome& outcome) {
    RunSummary summary;
    summary.runStarted();
    summary.runEnded(outcome, kEnd);
    return platform::utf16ToUtf8(summary.trayTip().c_str());
}

TEST(RunSummary, AGoodRunShowsTheAnswersFirstLine) {
    const std::string full(64, 'x');
    struct Case {
        const char* name;
        std::string head;
        bool cut;
        std::string tip;
    } cases[] = {
        {"crlf", "HTTP/1.1 200 OK\r\nServer: x\r\n", false, "Tarven: 09:05 HTTP/1.1 200 OK"},
        {"lf only", "HTTP/1.0 404 Not Found\nx", false, "Tarven: 09:05 HTTP/1.0 404 Not Found"},
        {"no line end", "pong", false, "Tarven: 09:05 pong"},
        {"nothing", "", false, "Tarven: 09:05 no answer"},
        {"empty first line", "\r\nbody", false, "Tarven: 09:05 no answer"},
        // Controls from a hostile server cannot break the tip; a tab is a space.
        {"controls", std::string("A\0B\x1B\x7F\tC\r\n", 9), false,
         "Tarven: 09:05 A\xEF\xBF\xBD"
         "B\xEF\xBF\xBD\xEF\xBF\xBD C"},
        {"bad bytes", "HTTP/1.1 200 \xFF\r\n", false, "Tarven: 09:05 HTTP/1.1 200 \xEF\xBF\xBD"},
        {"cut", full, true, "Tarven: 09:05 " + full + "..."},
        // A character split by the cut is left out rather than shown as U+FFFD.
        {"cut in a character", std::string(62, 'y') + "\xE2\x82", true,
         "Tarven: 09:05 " + std::string(62, 'y') + "..."},
        {"cut after a character", std::string(61, 'y') + "\xE2\x82\xAC", true,
         "Tarven: 09:05 " + std::string(61, 'y') + "\xE2\x82\xAC..."},
    };
    for (const Case& c : cases) {
        const RunOutcome outcome{.succeeded = true, .answerHead = c.head, .answerHeadCut = c.cut};
        EXPECT_EQ(tipAfter(outcome), c.tip) << c.name;
    }
}

TEST(RunSummary, AFailedRunShowsItsLastFailureLine) {
    struct Case {
        const char16_t* log;
        const char* tip;
    } cases[] = {
        {u"tarven.txt Loading...\r\n** Connceting...\r\nhost:80\r\n** Connect failed.\r\n",
         "Tarven: 09:05 failed: Connect failed"},
        {u"** Get IP address failed.\r\n** TARVEN_port was not specified.80 use.\r\n"
         u"** TARVEN_request was not specified.\r\n",
         "Tarven: 09:05 failed: TARVEN_request was not specified"},
        {u"tarven.txt Loading...\r\nLoading file failed.\r\nPlease create a tarven.txt file "
         u"first.\r\nThe creation method is in https://example.invalid/\r\n",
         "Tarven: 09:05 failed: Loading file failed"},
        {u"** TLS handshake failed: certificate verify failed.\r\n",
         "Tarven: 09:05 failed: TLS handshake failed: certificate verify failed"},
        {u"", "Tarven: 09:05 failed"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tipAfter({.log = c.log}), c.tip) << c.tip;
}

TEST(RunSummary, ALongTipIsCutToWhatWindowsHoldsWithoutSplittingAPair) {
    for (const std::size_t filler : {std::size_t{200}, std::size_t{201}}) {
        // "** " and 'x's, then emoji (two units each) up to past the limit.
        std::u16string line = u"** " + std::u16string(filler % 2 == 0 ? 98 : 99, u'x');
        while (line.size() < filler)
            line += u"\U0001F600";
        line += u".\r\n";
        RunSummary summary;
        summary.runEnded({.log = line}, kEnd);
        const std::u16string& tip = summary.trayTip();
        ASSERT_LE(tip.size(), kTrayTipLimit) << filler;
        EXPECT_TRUE(tip.ends_with(u"...")) << filler;
        const char16_t last = tip[tip.size() - 4];
        EXPECT_FALSE(last >= 0xD800 && last <= 0xDBFF) << filler;
    }
}

}  // namespace
}  // namespace tarven

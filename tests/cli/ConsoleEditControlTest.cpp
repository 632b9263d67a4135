// The console's log control on its own, writing to a temporary file.

#include "cli/ConsoleEditControl.h"
#include "log/LogView.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace tarven {
namespace {

struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Everything a journal-mode control wrote for the texts, set as a whole or appended.
std::string journalOf(const std::u16string& setText, const std::u16string& appended = u"") {
    const std::unique_ptr<std::FILE, CloseFile> out(std::tmpfile());
    {
        ConsoleEditControl log(out.get(), true);
        log.setText(setText.c_str());
        log.setSelection(log.textLength(), log.textLength());
        log.replaceSelection(appended.c_str());
    }
    std::string written;
    std::rewind(out.get());
    for (int c; (c = std::fgetc(out.get())) != EOF;)
        written += static_cast<char>(c);
    return written;
}

// Appends of UTF-8 go out as they came, or as the trip through UTF-16 leaves them when they do
// not decode; the line structure is the one the same text in UTF-16 makes, with pairs cut
// between appends and after characters of two units.
TEST(ConsoleEditControl, NarrowAppendsWriteAndCountAsTheirUtf16Would) {
    const std::string parts[] = {"a\xC3\xA9\r", "\nb\xF0\x9F\x98\x80\r\n\r", "x\xFF\r\n", "\r\n"};
    const std::unique_ptr<std::FILE, CloseFile> out(std::tmpfile());
    ConsoleEditControl narrow(out.get());
    MemoryEditControl wide;
    for (const std::string& part : parts) {
        struct : Window {
            EditControl* log;
            EditControl* findControl(int) override { return log; }
        } window;
        window.log = &narrow;
        appendNarrow(window, part.c_str());
        window.log = &wide;
        appendNarrow(window, part.c_str());
    }
    ASSERT_EQ(narrow.lineCount(), wide.lineCount());
    for (int line = 0; line <= wide.lineCount(); ++line)
        EXPECT_EQ(narrow.lineIndex(line), wide.lineIndex(line)) << line;
    EXPECT_EQ(narrow.textLength(), wide.textLength());
    std::string written;
    std::rewind(out.get());
    for (int c; (c = std::fgetc(out.get())) != EOF;)
        written += static_cast<char>(c);
    EXPECT_EQ(written, "a\xC3\xA9\r\nb\xF0\x9F\x98\x80\r\n\rx\xEF\xBF\xBD\r\n\r\n");
}

TEST(ConsoleEditControl, OneSetTextIsWrittenOnce) {
    EXPECT_EQ(journalOf(u"abc\r\n"), "<6>abc\r\n");
}

// A run of lone CRs past the bound is broken like other text; only the CR of a CR LF may follow
// the bound.
TEST(ConsoleEditControl, JournalLinesKeepTheirBoundWhateverCrsTheyHold) {
    const std::u16string full(ConsoleEditControl::kJournalLineLimit, u'a');
    const std::string written = journalOf(u"", full + std::u16string(5000, u'\r') + u"\r\nend\r\n");
    std::size_t lines = 0;
    for (std::size_t at = 0; at < written.size(); ++lines) {
        const std::size_t end = written.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        EXPECT_EQ(written.compare(at, 3, "<6>"), 0);
        EXPECT_LE(end - at - 3, ConsoleEditControl::kJournalLineLimit + 1);
        at = end + 1;
    }
    EXPECT_EQ(lines, 5u);
    EXPECT_EQ(written.rfind("\r\r\n<6>end\r\n"), written.size() - 11);
    EXPECT_EQ(journalOf(u"", full + u"\r\n"), "<6>" + std::string(full.size(), 'a') + "\r\n");
}

}  // namespace
}  // namespace tarven

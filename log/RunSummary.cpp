#include "log/RunSummary.h"

#include <cstdio>

#include "platform/TextCodec.h"

namespace tarven {
namespace {

constexpr char16_t kReplacement = u'\xFFFD';
constexpr std::u16string_view kStatusPrefix = u"** ";
constexpr std::u16string_view kFailedEnd = u" failed.";

void makePrintable(std::u16string& text) {
    for (char16_t& c : text) {
        if (c == u'\t') {
            c = u' ';
        } else if (c < u' ' || c == u'\x7F') {
            c = kReplacement;
        }
    }
}

// The answer's first line, without its line end.
std::u16string statusLine(const RunOutcome& outcome) {
    std::string_view head = outcome.answerHead;
    const std::size_t end = head.find_first_of("\r\n");
    const bool cut = end == std::string_view::npos && outcome.answerHeadCut;
    head = head.substr(0, end);
    if (head.empty() && !cut)
        return u"no answer";
    if (cut) {
        // A character that the cut split would show as U+FFFD; leave it out.
        std::size_t lead = head.size();  // past the last lead byte
        while (lead > 0 && head.size() - lead < 3 &&
               (static_cast<unsigned char>(head[lead - 1]) & 0xC0) == 0x80)
            --lead;
        if (lead > 0) {
            const auto byte = static_cast<unsigned char>(head[lead - 1]);
            const std::size_t needs = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            if (needs > head.size() - lead + 1)
                head = head.substr(0, lead - 1);
        }
    }
    std::u16string line = platform::utf8ToUtf16(head.data(), head.size());
    makePrintable(line);
    if (cut)
        line += u"...";
    return line;
}

// The run's last line that reports a failure, cut as the tip shows it; empty when none does.
std::u16string failureMessage(std::u16string_view log) {
    std::u16string_view found;
    std::size_t from = 0;
    while (from < log.size()) {
        std::size_t end = log.find(u'\n', from);
        if (end == std::u16string_view::npos)
            end = log.size();
        std::u16string_view line = log.substr(from, end - from);
        if (!line.empty() && line.back() == u'\r')
            line.remove_suffix(1);
        const bool status = line.substr(0, kStatusPrefix.size()) == kStatusPrefix;
        const bool failed = line.size() >= kFailedEnd.size() &&
                            line.substr(line.size() - kFailedEnd.size()) == kFailedEnd;
        if (status || failed)
            found = line;
        from = end + 1;
    }
    if (found.substr(0, kStatusPrefix.size()) == kStatusPrefix)
        found.remove_prefix(kStatusPrefix.size());
    if (!found.empty() && found.back() == u'.')
        found.remove_suffix(1);
    std::u16string message(found);
    makePrintable(message);
    return message;
}

bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

}  // namespace

void RunSummary::runStarted() {
    tip_ = u"Tarven: running...";
}

void RunSummary::runEnded(const RunOutcome& outcome, const platform::LocalTime& end) {
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d ", end.hour, end.minute);
    tip_ = u"Tarven: ";
    for (const char* c = time; *c != '\0'; ++c)
        tip_ += static_cast<char16_t>(*c);
    if (outcome.succeeded) {
        tip_ += statusLine(outcome);
    } else {
        const std::u16string message = failureMessage(outcome.log);
        tip_ += message.empty() ? u"failed" : u"failed: " + message;
    }
    if (tip_.size() > kTrayTipLimit) {
        std::size_t keep = kTrayTipLimit - 3;
        if (isHighSurrogate(tip_[keep - 1]))
            --keep;  // a pair stays whole or goes
        tip_.resize(keep);
        tip_ += u"...";
    }
}

}  // namespace tarven

#include "cli/ConsoleEditControl.h"

#include <string_view>

#include "platform/Console.h"
#include "platform/TextCodec.h"

namespace tarven {
namespace {

// The run writes each of these as one append.
constexpr const char16_t* kFailures[] = {
    u"Loading file failed.\r\n",
    u"Please create a tarven.txt file first.\r\nThe creation method is in ",
    u"** TARVEN_connect was not specified.\r\n",
    u"** TARVEN_request was not specified.\r\n",
    u"** Connect failed.\r\n",
    u"** TARVEN_tls value is unknown.\r\n",
    u"** TARVEN_cafile could not be loaded.\r\n",
    u"** TLS is not available in this build.\r\n",
};
constexpr std::u16string_view kHandshakeFailed = u"** TLS handshake failed: ";
constexpr const char16_t* kWarnings[] = {
    u"** Get IP address failed.\r\n",
    u"** Get IPv6 address failed.\r\n",
    u"** TARVEN_port was not specified.80 use.\r\n",
    u"** TARVEN_port was not specified.443 use.\r\n",
};
constexpr std::u16string_view kReceiving = u"\r\n\r\n** Reciving...\r\n";

}  // namespace

ConsoleEditControl::ConsoleEditControl(std::FILE* out, bool journal)
    : MemoryEditControl(Keep::linesOnly), out_(out), journal_(journal) {}

void ConsoleEditControl::replaceSelection(const char16_t* text) {
    write(text);
    MemoryEditControl::replaceSelection(text);
}

void ConsoleEditControl::setText(const char16_t* text) {
    receiving_ = false;
    write(text);
    MemoryEditControl::setText(text);
}

char ConsoleEditControl::priorityOf(const char16_t* text) {
    const std::u16string_view message(text);
    if (receiving_)
        return '6';
    if (message == kReceiving) {
        receiving_ = true;
        return '6';
    }
    for (const char16_t* failure : kFailures) {
        if (message == failure)
            return '3';
    }
    if (message.starts_with(kHandshakeFailed))
        return '3';
    for (const char16_t* warning : kWarnings) {
        if (message == warning)
            return '4';
    }
    return '6';
}

void ConsoleEditControl::write(const char16_t* text) {
    if (text == nullptr || text[0] == 0)
        return;
    const std::string bytes = platform::utf16ToUtf8(text);
    if (!journal_) {
        platform::writeText(out_, bytes.data(), bytes.size());
        return;
    }
    const char priority = priorityOf(text);
    std::string lines;
    lines.reserve(bytes.size() + 16);
    for (const char c : bytes) {
        const bool continuation = (static_cast<unsigned char>(c) & 0xC0) == 0x80;
        if (!lineStart_ && lineBytes_ >= kJournalLineLimit && !continuation && c != '\n' &&
            c != '\r') {
            lines += '\n';
            lines += {'<', linePriority_, '>'};
            lineBytes_ = 0;
        }
        if (lineStart_) {
            linePriority_ = priority;
            lines += {'<', priority, '>'};
            lineStart_ = false;
            lineBytes_ = 0;
        }
        lines += c;
        ++lineBytes_;
        if (c == '\n')
            lineStart_ = true;
    }
    std::fwrite(lines.data(), 1, lines.size(), out_);
    std::fflush(out_);
}

}  // namespace tarven

#include "cli/ConsoleEditControl.h"

#include <string_view>

#include "platform/Console.h"
#include "platform/TextCodec.h"

namespace tarven {
namespace {

// The run writes each of these as one append. They are ASCII, so their UTF-8 bytes compare
// as their units do.
constexpr const char* kFailures[] = {
    "Loading file failed.\r\n",
    "Please create a tarven.txt file first.\r\nThe creation method is in ",
    "** TARVEN_connect was not specified.\r\n",
    "** TARVEN_request was not specified.\r\n",
    "** Connect failed.\r\n",
    "** TARVEN_tls value is unknown.\r\n",
    "** TARVEN_cafile could not be loaded.\r\n",
    "** TLS is not available in this build.\r\n",
};
constexpr std::string_view kHandshakeFailed = "** TLS handshake failed: ";
constexpr const char* kWarnings[] = {
    "** Get IP address failed.\r\n",
    "** Get IPv6 address failed.\r\n",
    "** TARVEN_port was not specified.80 use.\r\n",
    "** TARVEN_port was not specified.443 use.\r\n",
};
constexpr std::string_view kReceiving = "\r\n\r\n** Reciving...\r\n";

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

void ConsoleEditControl::replaceSelectionUtf8(const Utf8Text& text) {
    if (text.wellFormed) {
        write(std::string_view(text.bytes, text.count));
    } else {
        const std::u16string wide = platform::utf8ToUtf16(text.bytes, text.count);
        write(wide.c_str());
    }
    replaceSelectionLines(text);
}

char ConsoleEditControl::priorityOf(std::string_view message) {
    if (receiving_)
        return '6';
    if (message == kReceiving) {
        receiving_ = true;
        return '6';
    }
    for (const char* failure : kFailures) {
        if (message == failure)
            return '3';
    }
    if (message.starts_with(kHandshakeFailed))
        return '3';
    for (const char* warning : kWarnings) {
        if (message == warning)
            return '4';
    }
    return '6';
}

void ConsoleEditControl::write(const char16_t* text) {
    if (text != nullptr && text[0] != 0)
        write(platform::utf16ToUtf8(text));
}

void ConsoleEditControl::write(std::string_view bytes) {
    if (bytes.empty())
        return;
    if (!journal_) {
        platform::writeText(out_, bytes.data(), bytes.size());
        return;
    }
    const char priority = priorityOf(bytes);
    std::string lines;
    lines.reserve(bytes.size() + 16);
    for (const char c : bytes) {
        const bool continuation = (static_cast<unsigned char>(c) & 0xC0) == 0x80;
        // Past the bound only a CR LF may follow, so one CR waits there for its LF; a second CR
        // is not part of that pair and breaks the line like any other byte.
        const bool pairCr = c == '\r' && lastByte_ != '\r';
        if (!lineStart_ && lineBytes_ >= kJournalLineLimit && !continuation && c != '\n' &&
            !pairCr) {
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
        lastByte_ = c;
        ++lineBytes_;
        if (c == '\n')
            lineStart_ = true;
    }
    std::fwrite(lines.data(), 1, lines.size(), out_);
    std::fflush(out_);
}

}  // namespace tarven

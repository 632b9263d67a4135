// The console's log in journal mode under random appends and set texts, checked against the
// same edits on a console log without the journal: every line starts with a priority, a line
// the bound breaks goes on with the priority it had, no line passes the bound (one character
// that straddles it and the CR of a CR LF aside), and once prefixes and breaks are taken out
// the bytes are those of the plain log.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzCheck.h"
#include "cli/ConsoleEditControl.h"

namespace {

constexpr std::size_t kMaxOperations = 48;
constexpr std::size_t kLimit = tarven::ConsoleEditControl::kJournalLineLimit;
// The widest line: the bound, three more bytes of a character that straddles it, and a CR.
constexpr std::size_t kWidest = kLimit + 3 + 1;

// A stream into memory, read after it is closed.
class MemoryStream {
  public:
    MemoryStream() : file_(open_memstream(&data_, &size_)) {}
    ~MemoryStream() {
        if (file_ != nullptr)
            std::fclose(file_);
        std::free(data_);
    }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;
    std::FILE* file() const { return file_; }
    std::string close() {
        std::fclose(file_);
        file_ = nullptr;
        return std::string(data_, size_);
    }

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

// Text from units that matter to the breaking: CR and LF alone or paired, runs of them or of
// letters long enough to pass the bound, multi-byte characters, and any other unit.
std::u16string textFrom(FuzzedDataProvider& input) {
    static const char16_t* const kPieces[] = {u"\r",     u"\n",     u"\r\n",      u"a",
                                              u"\u00e9", u"\u20ac", u"\U0001F600"};
    std::u16string text;
    for (std::size_t n = input.ConsumeIntegralInRange<std::size_t>(0, 12); n > 0; --n) {
        const int pick = input.ConsumeIntegralInRange(0, 9);
        if (pick < 7) {
            text += kPieces[pick];
        } else if (pick == 7) {
            const char16_t unit = input.ConsumeBool() ? u'\r' : u'x';
            text += std::u16string(input.ConsumeIntegralInRange<std::size_t>(1, 3 * kLimit), unit);
        } else {
            const auto unit = input.ConsumeIntegralInRange<char16_t>(1, 0xFFFF);
            text += unit;
        }
    }
    return text;
}

// What a message of the run appends, each with its own priority.
const char16_t* messageFrom(FuzzedDataProvider& input) {
    static const char16_t* const kMessages[] = {
        u"** Connect failed.\r\n", u"** Get IP address failed.\r\n", u"\r\n\r\n** Reciving...\r\n",
        u"** TLS handshake failed: x.\r\n"};
    return kMessages[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kMessages) - 1)];
}

void checkJournal(const std::string& journal, const std::string& plain) {
    std::size_t p = 0;
    std::size_t lineStart = 0;
    char priority = 0;
    bool broken = false;  // the line began at a break of the bound
    for (std::size_t j = 0; j < journal.size();) {
        if (j == lineStart) {
            FUZZ_CHECK(journal.size() - j >= 3 && journal[j] == '<' && journal[j + 2] == '>');
            FUZZ_CHECK(journal[j + 1] == '3' || journal[j + 1] == '4' || journal[j + 1] == '6');
            FUZZ_CHECK(!broken || journal[j + 1] == priority);
            priority = journal[j + 1];
            j += 3;
            continue;
        }
        const std::size_t lineBytes = j - lineStart - 3;
        if (p < plain.size() && journal[j] == plain[p]) {
            FUZZ_CHECK(journal[j] == '\n' || lineBytes < kWidest);
            if (journal[j] == '\n') {
                lineStart = j + 1;
                broken = false;
            }
            ++j;
            ++p;
            continue;
        }
        // Only a break of the bound may stand where the plain log has another byte.
        FUZZ_CHECK(journal[j] == '\n' && lineBytes >= kLimit);
        FUZZ_CHECK(p < plain.size() && (static_cast<unsigned char>(plain[p]) & 0xC0) != 0x80);
        lineStart = j + 1;
        broken = true;
        ++j;
    }
    FUZZ_CHECK(p == plain.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    MemoryStream journalOut;
    MemoryStream plainOut;
    {
        tarven::ConsoleEditControl journal(journalOut.file(), true);
        tarven::ConsoleEditControl plain(plainOut.file(), false);
        for (std::size_t step = 0; step < kMaxOperations && input.remaining_bytes() > 0; ++step) {
            const int operation = input.ConsumeIntegralInRange(0, 5);
            const std::u16string text = operation == 0 ? messageFrom(input) : textFrom(input);
            for (tarven::ConsoleEditControl* log : {&journal, &plain}) {
                if (operation == 5) {
                    log->setText(text.c_str());
                } else {
                    log->setSelection(log->textLength(), log->textLength());
                    log->replaceSelection(text.c_str());
                }
            }
        }
    }
    checkJournal(journalOut.close(), plainOut.close());
    return 0;
}

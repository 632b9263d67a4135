#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "log/MemoryEditControl.h"

namespace tarven {

// The console's log: every text added at the end is written at once to a stream as UTF-8.
// Only the line structure is kept, so a long answer is never held in memory.
//
// For the journal, each line starts with a priority: "<3>" for the messages that end a run in
// failure, "<4>" for the warnings, "<6>" for everything else. Messages are told by their exact
// text, and only until the answer begins: whatever the server sends is "<6>", whatever it
// holds. A line longer than kJournalLineLimit bytes is broken, so that the journal never
// breaks it itself and reads the rest as a line of its own, with a priority from the server.
class ConsoleEditControl final : public MemoryEditControl {
  public:
    static constexpr std::size_t kJournalLineLimit = 2048;

    explicit ConsoleEditControl(std::FILE* out, bool journal = false);
    void replaceSelection(const char16_t* text) override;
    // Well-formed text is written as it came.
    void replaceSelectionUtf8(const Utf8Text& text) override;
    void setText(const char16_t* text) override;

  private:
    void write(const char16_t* text);
    void write(std::string_view bytes);
    char priorityOf(std::string_view bytes);

    std::FILE* out_;
    bool journal_;
    bool receiving_ = false;  // the answer has begun
    bool lineStart_ = true;
    char linePriority_ = '6';
    std::size_t lineBytes_ = 0;
    char lastByte_ = 0;
};

// A window holding only the console's log.
class ConsoleWindow final : public Window {
  public:
    explicit ConsoleWindow(std::FILE* out, bool journal = false) : log_(out, journal) {}
    EditControl* findControl(int id) override { return id == kLogControlId ? &log_ : nullptr; }

  private:
    ConsoleEditControl log_;
};

}  // namespace tarven

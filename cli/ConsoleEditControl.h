#pragma once

#include <cstdio>

#include "ui/MemoryEditControl.h"

namespace tarven {

// The console's log: every text added at the end is written at once to a stream as UTF-8.
// Only the line structure is kept, so a long answer is never held in memory.
class ConsoleEditControl final : public MemoryEditControl {
  public:
    explicit ConsoleEditControl(std::FILE* out);
    void replaceSelection(const char16_t* text) override;
    void setText(const char16_t* text) override;

  private:
    void write(const char16_t* text);
    std::FILE* out_;
};

// A window holding only the console's log.
class ConsoleWindow final : public Window {
  public:
    explicit ConsoleWindow(std::FILE* out) : log_(out) {}
    EditControl* findControl(int id) override { return id == kLogControlId ? &log_ : nullptr; }

  private:
    ConsoleEditControl log_;
};

}  // namespace tarven

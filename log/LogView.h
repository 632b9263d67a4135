#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "log/Window.h"

namespace tarven {

inline constexpr int kLogTrimAbove = 200;
inline constexpr int kLogTrimLines = 10;
// The most UTF-16 units the desktop's log holds (its control's characterLimit). The line
// trimming alone keeps it small only while the answer's lines end in CR LF; an answer with LF
// line ends is one line to it. 1 Mi units (2 MiB of text) is some 13,000 lines of 80
// characters, far more than the 200 lines the trimming keeps otherwise, while each copy of it
// that the desktop holds stays a few MiB. The console holds no text and has no limit.
inline constexpr std::int64_t kLogCharacterLimit = std::int64_t{1} << 20;

// Each operation finds the log control (kLogControlId) in the window and does nothing when
// there is none. Before each append the log drops its ten oldest lines once it counts more
// than 200. Then, when the control has a character limit, it drops as much of the oldest text
// as the append would take past that limit, and no more: the whole lines that fit in that, then the
// front of the oldest line left. (Dropping whole lines only would throw away all of a long answer
// without CR LF for the few units of the date line after it.) A text longer than the limit by
// itself is added whole and then cut from the front, so that a control that shows each append as it
// comes still shows all of it.
void appendWide(Window& window, const char16_t* text);
// Converts UTF-8 to UTF-16 and appends it. The text ends at its first NUL or, with a count,
// after that many bytes, whichever comes first. Bytes that do not decode show as U+FFFD. An
// empty text still makes the trimming check.
void appendNarrow(Window& window, const char* text, std::optional<std::int32_t> count = {});
// A text that arrives in parts, as an answer does in receives that may cut a character in two.
// Each part is appended as appendNarrow with a count appends it, except that an incomplete
// sequence at its end (at most 3 bytes) waits to go in front of the next part. A part that a NUL
// ends keeps nothing back.
class NarrowStream {
  public:
    explicit NarrowStream(Window& window) : window_(window) {}
    void append(const char* bytes, std::int32_t count);
    // The text has ended: a sequence still waiting shows as U+FFFD.
    void finish();

  private:
    Window& window_;
    std::string pending_;
};

// Appends the local date and time as "yyyy/mm/dd:hh:mm:ss" and CR LF.
void appendTimestamp(Window& window);
void appendTimestamp(Window& window, const platform::Clock& clock);
void clearLog(Window& window);

}  // namespace tarven

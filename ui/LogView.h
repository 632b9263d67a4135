#pragma once

#include <cstdint>
#include <optional>

#include "platform/Clock.h"
#include "ui/Window.h"

namespace tarven {

inline constexpr int kLogTrimAbove = 200;
inline constexpr int kLogTrimLines = 10;

// Each operation finds the log control (kLogControlId) in the window and does nothing when
// there is none. Before each append the log drops its ten oldest lines once it counts more
// than 200.
void appendWide(Window& window, const char16_t* text);
// Converts UTF-8 to UTF-16 and appends it. The text ends at its first NUL or, with a count,
// after that many bytes, whichever comes first. Bytes that do not decode show as U+FFFD. An
// empty text still makes the trimming check.
void appendNarrow(Window& window, const char* text, std::optional<std::int32_t> count = {});
// Appends the local date and time as "yyyy/mm/dd:hh:mm:ss" and CR LF.
void appendTimestamp(Window& window);
void appendTimestamp(Window& window, const platform::Clock& clock);
void clearLog(Window& window);

}  // namespace tarven

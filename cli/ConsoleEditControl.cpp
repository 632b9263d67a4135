#include "cli/ConsoleEditControl.h"

#include <string>

#include "platform/TextCodec.h"

namespace tarven {

ConsoleEditControl::ConsoleEditControl(std::FILE* out)
    : MemoryEditControl(Keep::linesOnly), out_(out) {}

void ConsoleEditControl::replaceSelection(const char16_t* text) {
    write(text);
    MemoryEditControl::replaceSelection(text);
}

void ConsoleEditControl::setText(const char16_t* text) {
    write(text);
    MemoryEditControl::setText(text);
}

void ConsoleEditControl::write(const char16_t* text) {
    if (text == nullptr || text[0] == 0)
        return;
    const std::string bytes = platform::utf16ToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), out_);
    std::fflush(out_);
}

}  // namespace tarven

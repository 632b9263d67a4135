#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "log/Window.h"

namespace tarven::test {

// Makes a fresh, empty edit control. The text reader gives its whole text, for controls that
// keep it.
struct EditControlKind {
    std::string name;
    std::function<std::unique_ptr<EditControl>()> make;
    std::function<std::u16string(const EditControl&)> text;  // none: the control keeps no text
};

inline void PrintTo(const EditControlKind& kind, std::ostream* out) {
    *out << kind.name;
}

// The line rules every log control must share. Instantiate with
// INSTANTIATE_TEST_SUITE_P(Name, EditControlContract, testing::Values(kind...), kindName).
class EditControlContract : public testing::TestWithParam<EditControlKind> {
  protected:
    void SetUp() override { control = GetParam().make(); }
    void append(const char16_t* text) {
        control->setSelection(control->textLength(), control->textLength());
        control->replaceSelection(text);
    }
    std::unique_ptr<EditControl> control;
};

inline std::string kindName(const testing::TestParamInfo<EditControlKind>& info) {
    return info.param.name;
}

}  // namespace tarven::test

#pragma once

#include <gtest/gtest.h>

#include <string>

namespace tarven::test {

// Compares texts too long for a readable failure message; reports the first difference.
inline testing::AssertionResult sameText(const std::string& actual, const std::string& expected) {
    if (actual == expected)
        return testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    return testing::AssertionFailure()
           << "texts of " << actual.size() << " and " << expected.size() << " bytes differ at byte "
           << at << ": got \"" << actual.substr(at, 80) << "\", expected \""
           << expected.substr(at, 80) << "\"";
}

}  // namespace tarven::test

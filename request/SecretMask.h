#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "request/DescriptionFile.h"

namespace tarven {

// Shows every occurrence of a set of secret values as "****", wherever it turns up: in the
// request's lines and in whatever the server sends back. Values shorter than kShortestSecret
// bytes are not taken, so that "a" or "1" cannot blank the log. Where two values start at the
// same place the longer wins; the text is read from left to right and a masked value is not
// read again.
class SecretMask {
  public:
    static constexpr std::size_t kShortestSecret = 4;

    SecretMask() = default;
    explicit SecretMask(std::vector<std::string> values);

    bool empty() const { return values_.empty(); }
    std::size_t longest() const { return longest_; }

    // The whole text, masked.
    std::string mask(std::string_view text) const;

    // Masks text that comes in pieces, as if it had come at once: after each piece, what is
    // certain goes out and at most longest() - 1 bytes wait for the next, as they may begin a
    // value. finish() gives what still waits.
    std::string feed(std::string_view piece);
    std::string finish();
    // The bytes that wait for the next piece.
    std::size_t held() const { return pending_.size(); }

  private:
    // Masks pending_ from its start; stops where the rest could still grow into a value,
    // unless `last`.
    std::string drain(bool last);

    std::vector<std::string> values_;
    std::size_t longest_ = 0;
    std::string pending_;
};

// The secret values a description holds, after its addresses have been filled in: the
// credentials (the whole "user:password", the password and their Base64 form), the masked part
// of each secret header line, and the values of the secret query and body parameters.
std::vector<std::string> secretValues(DescriptionFile& description);

}  // namespace tarven

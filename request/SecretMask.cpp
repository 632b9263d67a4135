#include "request/SecretMask.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "request/Credentials.h"
#include "request/Redaction.h"

namespace tarven {

SecretMask::SecretMask(std::vector<std::string> values) {
    for (std::string& value : values) {
        if (value.size() < kShortestSecret ||
            std::find(values_.begin(), values_.end(), value) != values_.end())
            continue;
        longest_ = std::max(longest_, value.size());
        values_.push_back(std::move(value));
    }
}

std::string SecretMask::mask(std::string_view text) const {
    SecretMask whole(*this);
    whole.pending_.assign(text);
    return whole.drain(true);
}

std::string SecretMask::feed(std::string_view piece) {
    if (values_.empty())
        return std::string(piece);
    pending_.append(piece);
    return drain(false);
}

std::string SecretMask::finish() {
    return drain(true);
}

std::string SecretMask::drain(bool last) {
    std::string shown;
    std::size_t at = 0;
    const std::string_view text(pending_);
    while (at < text.size()) {
        const std::string_view rest = text.substr(at);
        std::size_t matched = 0;
        bool mayGrow = false;
        for (const std::string& value : values_) {
            if (rest.starts_with(value)) {
                matched = std::max(matched, value.size());
            } else if (!last && value.size() > rest.size() && value.starts_with(rest)) {
                mayGrow = true;
            }
        }
        // A longer value may still complete here; the choice waits for the next piece.
        if (mayGrow)
            break;
        if (matched != 0) {
            shown += kMaskText;
            at += matched;
        } else {
            shown += text[at++];
        }
    }
    pending_.erase(0, at);
    return shown;
}

std::vector<std::string> secretValues(DescriptionFile& description) {
    std::vector<std::string> values;
    if (const char* credentials = description.valueOfNoCase("TARVEN_basicauth:")) {
        values.emplace_back(credentials);
        if (const char* colon = std::strchr(credentials, ':'))
            values.emplace_back(colon + 1);
        if (const std::unique_ptr<char[]> encoded = encodeBasicCredentials(credentials))
            values.emplace_back(encoded.get());
    }
    if (const char* request = description.valueOfNoCase("TARVEN_request:")) {
        for (std::string& value : secretQueryValues(request))
            values.push_back(std::move(value));
    }
    if (const char* body = description.valueOfNoCase("TARVEN_postbody:")) {
        for (std::string& value : secretPairValues(body))
            values.push_back(std::move(value));
    }
    for (char* entry = description.first(); entry != nullptr; entry = description.next()) {
        const std::string line =
            std::string(description.currentKey()) + " " + description.currentValue();
        std::string value = secretHeaderValue(line.c_str());
        if (!value.empty())
            values.push_back(std::move(value));
    }
    return values;
}

}  // namespace tarven

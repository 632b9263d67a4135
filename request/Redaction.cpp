#include "request/Redaction.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace tarven {
namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

bool secretParameterName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        c = lower(c);
    for (const char* word : {"token", "key", "pass", "secret", "auth"}) {
        if (folded.find(word) != std::string::npos)
            return true;
    }
    return false;
}

}  // namespace

std::string maskRequestLine(const char* line) {
    std::string shown(line);
    std::size_t at = shown.find('?');
    if (at == std::string::npos)
        return shown;
    const std::size_t end = std::min(shown.find(' ', at), shown.find('#', at));
    const std::size_t queryEnd = end == std::string::npos ? shown.size() : end;
    std::string masked = shown.substr(0, at + 1);
    ++at;
    while (at <= queryEnd) {
        std::size_t next = shown.find('&', at);
        if (next == std::string::npos || next > queryEnd)
            next = queryEnd;
        const std::string_view parameter(shown.data() + at, next - at);
        const std::size_t equals = parameter.find('=');
        if (equals != std::string_view::npos && equals + 1 < parameter.size() &&
            secretParameterName(parameter.substr(0, equals))) {
            masked.append(parameter.substr(0, equals + 1));
            masked += kMaskText;
        } else {
            masked.append(parameter);
        }
        if (next < queryEnd)
            masked += '&';
        at = next + 1;
    }
    masked.append(shown, queryEnd, std::string::npos);
    return masked;
}

std::string maskHeaderLine(const char* line) {
    std::string shown(line);
    const std::size_t colon = shown.find(':');
    if (colon == std::string::npos)
        return shown;
    std::string_view name(shown.data(), colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.remove_suffix(1);
    const bool authorization =
        sameNoCase(name, "Authorization") || sameNoCase(name, "Proxy-Authorization");
    if (!authorization && !sameNoCase(name, "Cookie"))
        return shown;
    std::size_t valueEnd = shown.size();
    while (valueEnd > colon + 1 && (shown[valueEnd - 1] == '\r' || shown[valueEnd - 1] == '\n'))
        --valueEnd;
    std::size_t value = shown.find_first_not_of(" \t", colon + 1);
    if (value == std::string::npos || value >= valueEnd)
        return shown;
    if (authorization) {
        // Keep the scheme: which kind of credentials went out helps, the credentials don't.
        const std::size_t space = shown.find_first_of(" \t", value);
        if (space != std::string::npos && space < valueEnd) {
            const std::size_t secret = shown.find_first_not_of(" \t", space);
            if (secret == std::string::npos || secret >= valueEnd)
                return shown;
            value = secret;
        }
    }
    return shown.substr(0, value) + kMaskText + shown.substr(valueEnd);
}

bool holdsSecrets(DescriptionFile& description) {
    const char* credentials = description.valueOfNoCase("TARVEN_basicauth:");
    if (credentials != nullptr && credentials[0] != 0)
        return true;
    const char* request = description.valueOfNoCase("TARVEN_request:");
    if (request != nullptr && maskRequestLine(request) != request)
        return true;
    for (char* entry = description.first(); entry != nullptr; entry = description.next()) {
        const std::string line =
            std::string(description.currentKey()) + " " + description.currentValue();
        if (std::strncmp(line.c_str(), "TARVEN_", 7) != 0 && maskHeaderLine(line.c_str()) != line)
            return true;
    }
    return false;
}

}  // namespace tarven

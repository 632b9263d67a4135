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

bool secretName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        c = lower(c);
    for (const char* word : {"token", "key", "pass", "secret", "auth"}) {
        if (folded.find(word) != std::string::npos)
            return true;
    }
    return false;
}

struct Span {
    std::size_t at;
    std::size_t length;
};

// The values of the secret names among the "&"-separated pairs in text[from, to).
std::vector<Span> secretPairs(std::string_view text, std::size_t from, std::size_t to) {
    std::vector<Span> spans;
    for (std::size_t at = from; at <= to;) {
        std::size_t next = text.find('&', at);
        if (next == std::string_view::npos || next > to)
            next = to;
        const std::string_view pair = text.substr(at, next - at);
        const std::size_t equals = pair.find('=');
        if (equals != std::string_view::npos && equals + 1 < pair.size() &&
            secretName(pair.substr(0, equals)))
            spans.push_back({at + equals + 1, pair.size() - equals - 1});
        at = next + 1;
    }
    return spans;
}

// The query of a request line: from after the first "?" to the next space or "#".
bool queryOf(std::string_view line, std::size_t& from, std::size_t& to) {
    const std::size_t mark = line.find('?');
    if (mark == std::string_view::npos)
        return false;
    from = mark + 1;
    to = std::min({line.find(' ', from), line.find('#', from), line.size()});
    return true;
}

std::string masked(std::string_view text, const std::vector<Span>& spans) {
    std::string shown;
    std::size_t done = 0;
    for (const Span& span : spans) {
        shown.append(text.substr(done, span.at - done));
        shown += kMaskText;
        done = span.at + span.length;
    }
    shown.append(text.substr(done));
    return shown;
}

std::vector<std::string> valuesOf(std::string_view text, const std::vector<Span>& spans) {
    std::vector<std::string> values;
    for (const Span& span : spans)
        values.emplace_back(text.substr(span.at, span.length));
    return values;
}

std::vector<Span> querySpans(std::string_view line) {
    std::size_t from = 0;
    std::size_t to = 0;
    return queryOf(line, from, to) ? secretPairs(line, from, to) : std::vector<Span>{};
}

// The part of a header line that is masked, or none.
std::vector<Span> headerSpans(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return {};
    std::string_view name = line.substr(0, colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.remove_suffix(1);
    const bool cookie = sameNoCase(name, "Cookie");
    if (!cookie && !secretName(name))
        return {};
    std::size_t valueEnd = line.size();
    while (valueEnd > colon + 1 && (line[valueEnd - 1] == '\r' || line[valueEnd - 1] == '\n'))
        --valueEnd;
    std::size_t value = line.find_first_not_of(" \t", colon + 1);
    if (value == std::string_view::npos || value >= valueEnd)
        return {};
    if (!cookie) {
        // Keep the scheme: which kind of credentials went out helps, the credentials don't.
        const std::size_t space = line.find_first_of(" \t", value);
        if (space != std::string_view::npos && space < valueEnd) {
            const std::size_t secret = line.find_first_not_of(" \t", space);
            if (secret == std::string_view::npos || secret >= valueEnd)
                return {};
            value = secret;
        }
    }
    return {{value, valueEnd - value}};
}

}  // namespace

std::string maskRequestLine(const char* line) {
    return masked(line, querySpans(line));
}

std::string maskHeaderLine(const char* line) {
    return masked(line, headerSpans(line));
}

std::string maskBody(const char* body) {
    const std::string_view text(body);
    return masked(text, secretPairs(text, 0, text.size()));
}

std::vector<std::string> secretQueryValues(const char* line) {
    return valuesOf(line, querySpans(line));
}

std::vector<std::string> secretPairValues(const char* pairs) {
    const std::string_view text(pairs);
    return valuesOf(text, secretPairs(text, 0, text.size()));
}

std::string secretHeaderValue(const char* line) {
    const std::vector<std::string> values = valuesOf(line, headerSpans(line));
    return values.empty() ? std::string() : values.front();
}

bool holdsSecrets(DescriptionFile& description) {
    const char* credentials = description.valueOfNoCase("TARVEN_basicauth:");
    if (credentials != nullptr && credentials[0] != 0)
        return true;
    const char* request = description.valueOfNoCase("TARVEN_request:");
    if (request != nullptr && !querySpans(request).empty())
        return true;
    const char* body = description.valueOfNoCase("TARVEN_postbody:");
    if (body != nullptr && !secretPairValues(body).empty())
        return true;
    for (char* entry = description.first(); entry != nullptr; entry = description.next()) {
        const std::string line =
            std::string(description.currentKey()) + " " + description.currentValue();
        if (std::strncmp(line.c_str(), "TARVEN_", 7) != 0 && !headerSpans(line).empty())
            return true;
    }
    return false;
}

}  // namespace tarven

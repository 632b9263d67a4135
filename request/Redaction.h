#pragma once

#include <string>
#include <vector>

#include "request/DescriptionFile.h"

namespace tarven {

inline constexpr char kMaskText[] = "****";

// The request line with the value of each query parameter whose name holds "token", "key",
// "pass", "secret" or "auth" (any letter case) shown as "****". The query runs from the first
// "?" to the next space or "#"; parameters are split at "&".
std::string maskRequestLine(const char* line);

// A header line ("name: value" with or without its CR LF) with its value shown as "****" when
// the name, up to the first colon, is Cookie or holds one of the words above (any letter case),
// as Authorization and "X-Api-Key" do. Except for Cookie a leading scheme word ("Basic",
// "Bearer") stays. Empty values stay empty.
std::string maskHeaderLine(const char* line);

// A body of "name=value&..." pairs with the values of secret names shown as "****", as in the
// query. A body of another form has no such pairs and stays as it is.
std::string maskBody(const char* body);

// What the masks above hide: the values of the secret parameters in a request line's query,
// in "name=value&..." pairs, and the masked part of a header line (empty when none).
std::vector<std::string> secretQueryValues(const char* line);
std::vector<std::string> secretPairValues(const char* pairs);
std::string secretHeaderValue(const char* line);

// Whether the description holds something the masks above would hide: credentials, a
// secret header line, a secret query parameter or a secret body parameter.
bool holdsSecrets(DescriptionFile& description);

}  // namespace tarven

#pragma once

#include <string>

#include "request/DescriptionFile.h"

namespace tarven {

inline constexpr char kMaskText[] = "****";

// The request line with the value of each query parameter whose name holds "token", "key",
// "pass", "secret" or "auth" (any letter case) shown as "****". The query runs from the first
// "?" to the next space or "#"; parameters are split at "&".
std::string maskRequestLine(const char* line);

// A header line ("name: value" with or without its CR LF) with its value shown as "****" when
// the name, up to the first colon, is Authorization, Proxy-Authorization or Cookie (any letter
// case). For the two authorisation names a leading scheme word ("Basic", "Bearer") stays.
// Empty values stay empty.
std::string maskHeaderLine(const char* line);

// Whether the description holds something the masks above would hide: credentials, a
// secret header line or a secret query parameter.
bool holdsSecrets(DescriptionFile& description);

}  // namespace tarven

#pragma once

#include "platform/Clock.h"
#include "platform/HostNetwork.h"
#include "ui/Window.h"

namespace tarven {

class TcpStream;

inline constexpr const char16_t* kDescriptionFileName = u"tarven.txt";

// What a run takes from its surroundings. Tests put fixed ones in place of the system's.
struct RunEnvironment {
    const platform::HostNetwork* host = nullptr;  // none: this machine
    const platform::Clock* clock = nullptr;       // none: the system clock
    // A full path that replaces the search beside the program and in the user's config folder.
    const char16_t* descriptionPath = nullptr;
};

// One run of the described request: clears the log, loads the description, fills in this
// host's address, sends the request and logs the whole exchange until the server closes or
// falls silent for five seconds. True when the exchange ran to its end; false when the file
// could not be loaded, the server or the request line is missing, or the connection failed.
// The description is looked for beside the program, then in the user's config folder.
bool runRequest(Window& window, const char16_t* fileName);
bool runRequest(Window& window, const char16_t* fileName, const RunEnvironment& environment);

// Sends and logs "key value" CR LF. What sendAll gave; 0 when the key is none or key and value
// together exceed 500 bytes, in which case nothing is sent or logged.
int sendHeaderLine(TcpStream& stream, Window& window, const char* key, const char* value);

}  // namespace tarven

#pragma once

#include <string>

#include "log/Window.h"
#include "platform/Clock.h"
#include "platform/HostNetwork.h"

namespace tarven {

class TcpStream;

inline constexpr const char16_t* kDescriptionFileName = u"tarven.txt";
// How much of the answer's start a run keeps for answerHead.
inline constexpr std::size_t kAnswerHeadSize = 64;

// What a run takes from its surroundings. Tests put fixed ones in place of the system's.
struct RunEnvironment {
    const platform::HostNetwork* host = nullptr;  // none: this machine
    const platform::Clock* clock = nullptr;       // none: the system clock
    // A full path that replaces the search beside the program and in the user's config folder.
    const char16_t* descriptionPath = nullptr;
    // The machine-wide folder; none: platform::systemConfigFolder().
    const char16_t* systemConfigFolder = nullptr;
    // Show secrets in the sent lines as "****" in the log (and in requestCopy); the wire keeps
    // them.
    bool maskSecrets = false;
    // A check: the run stops where it would connect and puts the request bytes here instead
    // of sending them, logging none of them. The result then says whether a run could start.
    std::string* requestCopy = nullptr;
    // Receives the first kAnswerHeadSize bytes of the answer, as they came.
    std::string* answerHead = nullptr;
};

// The description file a run would load: descriptionPath when given, else the first that
// exists of beside the program, the user's config folder and the machine-wide folder (the
// last one also when it does not exist). Empty when no path fits.
std::u16string findDescription(const char16_t* fileName, const RunEnvironment& environment);

// One run of the described request: clears the log, loads the description, fills in this
// host's address, sends the request and logs the whole exchange until the server closes or
// falls silent for five seconds. True when the exchange ran to its end; false when the file
// could not be loaded, the server or the request line is missing, or the connection failed.
// The description is looked for as findDescription says.
bool runRequest(Window& window, const char16_t* fileName);
bool runRequest(Window& window, const char16_t* fileName, const RunEnvironment& environment);

// Sends and logs "key value" CR LF. What sendAll gave; 0 when the key is none or key and value
// together exceed 500 bytes, in which case nothing is sent or logged.
int sendHeaderLine(TcpStream& stream, Window& window, const char* key, const char* value);

}  // namespace tarven

#include "request/RequestRun.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "BuildInfo.h"
#include "log/LogView.h"
#include "net/TcpStream.h"
#include "net/TlsSession.h"
#include "platform/Environment.h"
#include "platform/File.h"
#include "request/Credentials.h"
#include "request/DescriptionFile.h"
#include "request/Redaction.h"

namespace tarven {
namespace {

constexpr int kReceiveSize = 512;
constexpr std::size_t kHeaderLineLimit = 500;
constexpr char kAddressMarker[] = "%IPADDRESS%";
constexpr char kIpv6AddressMarker[] = "%IPV6ADDRESS%";
constexpr char kReservedPrefix[] = "TARVEN_";

constexpr char kServerKey[] = "TARVEN_connect:";
constexpr char kPortKey[] = "TARVEN_port:";
constexpr char kRequestKey[] = "TARVEN_request:";
constexpr char kBodyKey[] = "TARVEN_postbody:";
constexpr char kCredentialsKey[] = "TARVEN_basicauth:";
constexpr char kTlsKey[] = "TARVEN_tls:";
constexpr char kCaFileKey[] = "TARVEN_cafile:";
constexpr char kAuthorizationKey[] = "Authorization: Basic";
constexpr char kContentLengthKey[] = "Content-length: ";

// The first marker of either kind in a value, or none.
struct Marker {
    const char* at = nullptr;
    std::size_t length = 0;
    bool ipv6 = false;
};

Marker firstMarker(const char* value) {
    const char* v4 = std::strstr(value, kAddressMarker);
    const char* v6 = std::strstr(value, kIpv6AddressMarker);
    if (v6 != nullptr && (v4 == nullptr || v6 < v4))
        return {v6, sizeof kIpv6AddressMarker - 1, true};
    return {v4, sizeof kAddressMarker - 1, false};
}

// Replaces every marker in the block's values with this host's address, one marker per set.
// A set moves its entry to the end, so the walk starts over after each one. An entry whose
// set fails keeps its marker and is passed over from then on, so the walk always ends.
void substituteAddresses(DescriptionFile& description, Window& window,
                         const platform::HostNetwork& host) {
    int passOver = 0;  // leading marked entries whose set failed
    for (;;) {
        int marked = 0;
        bool replaced = false;
        for (char* entry = description.first(); entry != nullptr; entry = description.next()) {
            const char* value = description.currentValue();
            const Marker marker = firstMarker(value);
            if (marker.at == nullptr)
                continue;
            if (marked++ < passOver)
                continue;
            char address[kIpv6AddressTextSize];
            if (marker.ipv6) {
                if (localIpv6AddressText(address, host) == 0) {
                    appendWide(window, u"** Get IPv6 address failed.\r\n");
                }
            } else if (localAddressText(address, host) == 0) {
                appendWide(window, u"** Get IP address failed.\r\n");
            }
            // Built in an area as large as it needs, so a long value is never cut.
            std::string built(value, static_cast<std::size_t>(marker.at - value));
            built += address;
            built += marker.at + marker.length;
            if (description.set(description.currentKey(), built.c_str()) == 0) {
                ++passOver;
            }
            replaced = true;
            break;
        }
        if (!replaced)
            return;
    }
}

enum class Transport { plain, tlsVerified, tlsUnverified, unknown };

// The connection that "TARVEN_tls:" asks for: none is plain; its value, ignoring letter case
// and surrounding blanks, is empty or "on" (verified) or "noverify".
Transport transportOf(const std::optional<std::string>& tls) {
    if (!tls)
        return Transport::plain;
    const std::size_t from = tls->find_first_not_of(" \t");
    const std::size_t to = tls->find_last_not_of(" \t");
    std::string value = from == std::string::npos ? "" : tls->substr(from, to - from + 1);
    for (char& c : value)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (value.empty() || value == "on")
        return Transport::tlsVerified;
    if (value == "noverify")
        return Transport::tlsUnverified;
    return Transport::unknown;
}

std::optional<std::string> copyOf(const char* value) {
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

// The TLS handshake after the connect, and its log line. False when it failed; nothing of the
// request has been sent then.
bool handshake(TcpStream& stream, const TlsContext& tls, const std::string& server,
               Window& window) {
    std::string report;
    if (stream.startTls(tls, server.c_str(), report) != 0) {
        appendNarrow(window, ("** TLS handshake failed: " + report + ".\r\n").c_str());
        stream.close();
        return false;
    }
    const std::string checked = tls.verify() == TlsVerify::chainAndName
                                    ? ", certificate verified for " + server + ".\r\n"
                                    : std::string(", certificate not verified.\r\n");
    appendNarrow(window, ("** TLS: " + report + checked).c_str());
    return true;
}

// Where the request goes: in a run to the connection, each item also shown in the log; in a
// check into a copy, with nothing logged. The log and the copy may show secrets masked.
class RequestOutput {
  public:
    RequestOutput(TcpStream& stream, Window& window, bool mask)
        : stream_(&stream), window_(&window), mask_(mask) {}
    RequestOutput(std::string& copy, bool mask) : copy_(&copy), mask_(mask) {}

    // Sends the bytes; in a copy they stand as `masked` would show them.
    int send(const char* bytes, std::string (*masked)(const char*) = nullptr) {
        if (copy_ == nullptr)
            return stream_->sendAll(bytes, 0, 0);
        copy_->append(mask_ && masked ? masked(bytes) : std::string(bytes));
        return static_cast<int>(std::strlen(bytes));
    }
    void log(const char* text, std::string (*masked)(const char*) = nullptr) {
        if (window_ == nullptr)
            return;
        if (mask_ && masked) {
            appendNarrow(*window_, masked(text).c_str());
        } else {
            appendNarrow(*window_, text);
        }
    }
    void logWide(const char16_t* text) {
        if (window_ != nullptr)
            appendWide(*window_, text);
    }

  private:
    TcpStream* stream_ = nullptr;
    std::string* copy_ = nullptr;
    Window* window_ = nullptr;
    bool mask_;
};

int sendLine(RequestOutput& output, const char* key, const char* value) {
    if (key == nullptr)
        return 0;
    if (value == nullptr)
        value = "";
    if (std::strlen(key) + std::strlen(value) > kHeaderLineLimit)
        return 0;
    char line[kBlockSize] = {};
    std::snprintf(line, sizeof line, "%s %s\r\n", key, value);
    const int sent = output.send(line, maskHeaderLine);
    output.log(line, maskHeaderLine);
    return sent;
}

// The request line, the header lines, the optional length line and body, and the empty line.
void sendRequest(RequestOutput& output, DescriptionFile& description, const std::string& request,
                 const std::optional<std::string>& body) {
    output.send(request.c_str(), maskRequestLine);
    output.send("\r\n");
    output.log(request.c_str(), maskRequestLine);
    output.log("\r\n");

    for (char* entry = description.first(); entry != nullptr; entry = description.next()) {
        const char* key = description.currentKey();
        if (std::strncmp(key, kReservedPrefix, sizeof kReservedPrefix - 1) != 0) {
            sendLine(output, key, description.currentValue());
        }
    }

    if (body) {
        output.logWide(u"** Sending body-->\r\n");
        char length[kAddressTextSize];
        std::snprintf(length, sizeof length, "%d", static_cast<int>(body->size()));
        sendLine(output, kContentLengthKey, length);
        output.send("\r\n");
        output.log("\r\n");
        output.send(body->c_str());
        output.log(body->c_str());
    } else {
        output.send("\r\n");
        output.log("\r\n");
    }
}

void keepAnswerHead(const RunEnvironment& environment, const char* received, int got) {
    std::string* head = environment.answerHead;
    if (head == nullptr || head->size() >= kAnswerHeadSize)
        return;
    head->append(received, std::min(static_cast<std::size_t>(got), kAnswerHeadSize - head->size()));
}

int loadFound(DescriptionFile& description, const char16_t* fileName,
              const RunEnvironment& environment) {
    const std::u16string path = findDescription(fileName, environment);
    return path.empty() ? 0 : description.loadDescription(path.c_str());
}

}  // namespace

std::u16string findDescription(const char16_t* fileName, const RunEnvironment& environment) {
    if (environment.descriptionPath)
        return environment.descriptionPath;
    char16_t directory[kPathCapacity];
    programDirectory(directory);
    char16_t path[kPathCapacity];
    if (joinPath(path, directory, fileName) && platform::pathExists(path))
        return path;
    // A path that would not fit counts as not there.
    const std::u16string user = platform::userConfigPath(fileName);
    if (!user.empty() && user.size() < static_cast<std::size_t>(kPathCapacity) &&
        platform::pathExists(user.c_str()))
        return user;
    const std::u16string system = environment.systemConfigFolder ? environment.systemConfigFolder
                                                                 : platform::systemConfigFolder();
    if (!system.empty() && joinPath(path, system.c_str(), fileName))
        return path;
    return {};
}

int sendHeaderLine(TcpStream& stream, Window& window, const char* key, const char* value) {
    RequestOutput output(stream, window, false);
    return sendLine(output, key, value);
}

bool runRequest(Window& window, const char16_t* fileName) {
    return runRequest(window, fileName, RunEnvironment{});
}

bool runRequest(Window& window, const char16_t* fileName, const RunEnvironment& environment) {
    const platform::SystemHostNetwork systemHost;
    const platform::SystemClock systemClock;
    const platform::HostNetwork& host = environment.host ? *environment.host : systemHost;
    const platform::Clock& clock = environment.clock ? *environment.clock : systemClock;

    clearLog(window);
    appendWide(window, fileName);
    appendWide(window, u" Loading...\r\n");

    DescriptionFile description;
    const int loaded = loadFound(description, fileName, environment);
    if (loaded == 0) {
        appendWide(window, u"Loading file failed.\r\n");
        appendWide(window, u"Please create a tarven.txt file first.\r\nThe creation method is in ");
        appendWide(window, build::kDescriptionDocUrl);
        appendWide(window, u"\r\n");
        return false;
    }

    startNetworking();
    substituteAddresses(description, window, host);

    TcpStream stream;
    // Copies, because the credentials entry added below may move the block's storage.
    const std::optional<std::string> server = copyOf(description.valueOfNoCase(kServerKey));
    std::optional<std::string> port = copyOf(description.valueOfNoCase(kPortKey));
    const std::optional<std::string> request = copyOf(description.valueOfNoCase(kRequestKey));
    const std::optional<std::string> body = copyOf(description.valueOfNoCase(kBodyKey));
    const std::optional<std::string> credentials =
        copyOf(description.valueOfNoCase(kCredentialsKey));
    const Transport transport = transportOf(copyOf(description.valueOfNoCase(kTlsKey)));
    const std::optional<std::string> caFile = copyOf(description.valueOfNoCase(kCaFileKey));

    if (!server) {
        appendWide(window, u"** TARVEN_connect was not specified.\r\n");
        return false;
    }
    if (transport == Transport::unknown) {
        appendWide(window, u"** TARVEN_tls value is unknown.\r\n");
        return false;
    }
    if (!port && transport != Transport::plain) {
        appendWide(window, u"** TARVEN_port was not specified.443 use.\r\n");
        port = "443";
    }
    if (!port) {
        appendWide(window, u"** TARVEN_port was not specified.80 use.\r\n");
        port = "80";
    }
    if (!request) {
        appendWide(window, u"** TARVEN_request was not specified.\r\n");
        return false;
    }
    if (credentials) {
        const std::unique_ptr<char[]> encoded = encodeBasicCredentials(credentials->c_str());
        description.set(kAuthorizationKey, encoded.get());
    }

    std::unique_ptr<TlsContext> tls;
    if (transport != Transport::plain) {
        if (!tlsAvailable()) {
            appendWide(window, u"** TLS is not available in this build.\r\n");
            return false;
        }
        tls = std::make_unique<TlsContext>(
            transport == Transport::tlsVerified ? TlsVerify::chainAndName : TlsVerify::none,
            caFile ? caFile->c_str() : nullptr);
        if (!tls->ready()) {
            appendWide(window, u"** TARVEN_cafile could not be loaded.\r\n");
            return false;
        }
    }

    if (environment.requestCopy != nullptr) {
        RequestOutput copy(*environment.requestCopy, environment.maskSecrets);
        sendRequest(copy, description, *request, body);
        return true;
    }
    appendNarrow(window, "** Connceting...\r\n");
    appendNarrow(window, server->c_str());
    appendNarrow(window, ":");
    appendNarrow(window, port->c_str());
    appendNarrow(window, "\r\n");
    if (stream.connectTo(server->c_str(), port->c_str(), host) == -1) {
        appendNarrow(window, "** Connect failed.\r\n");
        return false;
    }
    appendNarrow(window, "** Connceted.\r\n");
    if (tls && !handshake(stream, *tls, *server, window))
        return false;

    RequestOutput output(stream, window, environment.maskSecrets);
    sendRequest(output, description, *request, body);

    appendWide(window, u"\r\n\r\n** Reciving...\r\n");
    char received[kReceiveSize];
    for (;;) {
        std::memset(received, 0, sizeof received);
        const int got = stream.receive(received, kReceiveSize, 0);
        if (got == -1 || got == 0)
            break;
        appendNarrow(window, received, got);
        keepAnswerHead(environment, received, got);
    }

    appendWide(window, u"** Socket close.\r\n");
    appendTimestamp(window, clock);
    stream.close();
    return true;
}

}  // namespace tarven

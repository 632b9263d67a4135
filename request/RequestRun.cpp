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
#include "platform/TextCodec.h"
#include "request/Credentials.h"
#include "request/DescriptionFile.h"
#include "request/Redaction.h"
#include "request/SecretMask.h"

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

std::string trimmed(const std::string& value) {
    const std::size_t from = value.find_first_not_of(" \t");
    return from == std::string::npos ? ""
                                     : value.substr(from, value.find_last_not_of(" \t") - from + 1);
}

// The connection that "TARVEN_tls:" asks for: none is plain; its value, ignoring letter case
// and surrounding blanks, is empty or "on" (verified) or "noverify".
Transport transportOf(const std::optional<std::string>& tls) {
    if (!tls)
        return Transport::plain;
    std::string value = trimmed(*tls);
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
    RequestOutput(TcpStream& stream, Window& window, bool mask, const SecretMask* values)
        : stream_(&stream), window_(&window), mask_(mask), values_(values) {}
    RequestOutput(std::string& copy, bool mask, const SecretMask* values)
        : copy_(&copy), mask_(mask), values_(values) {}

    // Sends the bytes; in a copy they stand as `masked` would show them.
    int send(const char* bytes, std::string (*masked)(const char*) = nullptr) {
        if (copy_ == nullptr)
            return stream_->sendAll(bytes, 0, 0);
        copy_->append(shown(bytes, masked));
        return static_cast<int>(std::strlen(bytes));
    }
    void log(const char* text, std::string (*masked)(const char*) = nullptr) {
        if (window_ != nullptr)
            appendNarrow(*window_, shown(text, masked).c_str());
    }
    void logWide(const char16_t* text) {
        if (window_ != nullptr)
            appendWide(*window_, text);
    }

  private:
    std::string shown(const char* text, std::string (*masked)(const char*)) const {
        if (!mask_)
            return text;
        const std::string placed = masked ? masked(text) : std::string(text);
        return values_ != nullptr ? values_->mask(placed) : placed;
    }

    TcpStream* stream_ = nullptr;
    std::string* copy_ = nullptr;
    Window* window_ = nullptr;
    bool mask_;
    const SecretMask* values_;
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
        output.send(body->c_str(), maskBody);
        output.log(body->c_str(), maskBody);
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

// Why the description at `path` could not be loaded, for a person.
std::string loadFailure(const std::u16string& path, const std::string& why,
                        const char16_t* fileName, const RunEnvironment& environment) {
    if (environment.descriptionPath == nullptr &&
        (path.empty() || !platform::pathExists(path.c_str()))) {
        std::string places;
        for (const std::u16string& place : descriptionPlaces(fileName, environment))
            places += (places.empty() ? "" : ", ") + platform::utf16ToUtf8(place.c_str());
        return "no " + platform::utf16ToUtf8(fileName) + " found (looked in: " + places + ")";
    }
    return "cannot read " + platform::utf16ToUtf8(path.c_str()) + ": " + why;
}

// The trust file as a path: a relative one is read from the description file's folder, which
// a service's working folder (often "/") is not.
std::string trustFilePath(const std::string& caFile, const std::u16string& descriptionPath) {
    return caFile.empty() ? caFile : platform::pathBeside(descriptionPath, caFile);
}

std::u16string systemFolder(const RunEnvironment& environment) {
    return environment.systemConfigFolder ? environment.systemConfigFolder
                                          : platform::systemConfigFolder();
}

void noteFailure(const RunEnvironment& environment, std::string failure) {
    if (environment.report != nullptr)
        environment.report->failure = std::move(failure);
}

}  // namespace

std::vector<std::u16string> descriptionPlaces(const char16_t* fileName,
                                              const RunEnvironment& environment) {
    std::vector<std::u16string> places;
    char16_t directory[kPathCapacity];
    programDirectory(directory);
    char16_t path[kPathCapacity];
    // A path that would not fit counts as not there.
    if (joinPath(path, directory, fileName))
        places.emplace_back(path);
    const std::u16string user = platform::userConfigPath(fileName);
    if (!user.empty() && user.size() < static_cast<std::size_t>(kPathCapacity))
        places.push_back(user);
    const std::u16string system = systemFolder(environment);
    if (!system.empty() && joinPath(path, system.c_str(), fileName))
        places.emplace_back(path);
    return places;
}

std::u16string findDescription(const char16_t* fileName, const RunEnvironment& environment) {
    if (environment.descriptionPath)
        return environment.descriptionPath;
    const std::vector<std::u16string> places = descriptionPlaces(fileName, environment);
    for (const std::u16string& place : places) {
        if (platform::pathExists(place.c_str()))
            return place;
    }
    // The machine-wide place is the last, and is taken also when it does not exist.
    const std::u16string system = systemFolder(environment);
    char16_t path[kPathCapacity];
    if (!system.empty() && joinPath(path, system.c_str(), fileName))
        return path;
    return {};
}

int sendHeaderLine(TcpStream& stream, Window& window, const char* key, const char* value) {
    RequestOutput output(stream, window, false, nullptr);
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
    const std::u16string path = findDescription(fileName, environment);
    std::string why;
    if (path.empty() || description.loadDescription(path.c_str(), &why) == 0) {
        noteFailure(environment, loadFailure(path, why, fileName, environment));
        appendWide(window, u"Loading file failed.\r\n");
        appendWide(window, u"Please create a tarven.txt file first.\r\nThe creation method is in ");
        appendWide(window, build::kDescriptionDocUrl);
        appendWide(window, u"\r\n");
        return false;
    }
    if (environment.report != nullptr)
        environment.report->file = path;

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
    const std::optional<std::string> tlsValue = copyOf(description.valueOfNoCase(kTlsKey));
    const Transport transport = transportOf(tlsValue);
    std::optional<std::string> caFile = copyOf(description.valueOfNoCase(kCaFileKey));
    if (caFile)
        caFile = trustFilePath(*caFile, path);

    if (!server) {
        appendWide(window, u"** TARVEN_connect was not specified.\r\n");
        return false;
    }
    if (transport == Transport::unknown) {
        noteFailure(environment,
                    "TARVEN_tls value '" + trimmed(*tlsValue) + "' is unknown; use on or noverify");
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
    SecretMask secrets;
    if (environment.maskSecrets)
        secrets = SecretMask(secretValues(description));
    if (environment.report != nullptr) {
        RunReport& plan = *environment.report;
        plan.server = *server;
        plan.port = *port;
        plan.transport = transport == Transport::plain           ? "plain"
                         : transport == Transport::tlsUnverified ? "TLS, certificate not verified"
                         : caFile ? "TLS, certificate verified against " + *caFile
                                  : "TLS, certificate verified against the system's certificates";
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
            if (caFile) {
                platform::FileReader trust;
                noteFailure(
                    environment,
                    "TARVEN_cafile " + *caFile + ": " +
                        (trust.open(platform::utf8ToUtf16(caFile->data(), caFile->size()).c_str())
                             ? "holds no PEM certificate"
                             : trust.errorText()));
            } else {
                noteFailure(environment, "the TLS library could not be set up");
            }
            appendWide(window, u"** TARVEN_cafile could not be loaded.\r\n");
            return false;
        }
    }

    if (environment.requestCopy != nullptr) {
        RequestOutput copy(*environment.requestCopy, environment.maskSecrets, &secrets);
        sendRequest(copy, description, *request, body);
        return true;
    }
    appendNarrow(window, "** Connceting...\r\n");
    appendNarrow(window, secrets.mask(*server + ":" + *port + "\r\n").c_str());
    if (stream.connectTo(server->c_str(), port->c_str(), host) == -1) {
        noteFailure(environment, "cannot connect to " + *server + " port " + *port + ": " +
                                     connectFailureText(stream.connectFailure));
        appendNarrow(window, "** Connect failed.\r\n");
        return false;
    }
    appendNarrow(window, "** Connceted.\r\n");
    if (tls && !handshake(stream, *tls, *server, window))
        return false;

    RequestOutput output(stream, window, environment.maskSecrets, &secrets);
    sendRequest(output, description, *request, body);

    appendWide(window, u"\r\n\r\n** Reciving...\r\n");
    char received[kReceiveSize];
    NarrowStream answer(window);
    for (;;) {
        std::memset(received, 0, sizeof received);
        const int got = stream.receive(received, kReceiveSize, 0);
        if (got == -1 || got == 0)
            break;
        if (secrets.empty()) {
            answer.append(received, got);
        } else {
            // A chunk shows up to its first NUL, masked or not.
            const std::string shown = secrets.feed(
                std::string_view(received, strnlen(received, static_cast<std::size_t>(got))));
            if (!shown.empty())
                answer.append(shown.data(), static_cast<std::int32_t>(shown.size()));
        }
        keepAnswerHead(environment, received, got);
    }
    const std::string rest = secrets.finish();
    if (!rest.empty())
        answer.append(rest.data(), static_cast<std::int32_t>(rest.size()));
    answer.finish();

    appendWide(window, u"** Socket close.\r\n");
    appendTimestamp(window, clock);
    stream.close();
    return true;
}

}  // namespace tarven

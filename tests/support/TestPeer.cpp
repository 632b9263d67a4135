#include "support/TestPeer.h"

#include <sys/socket.h>

#include <cctype>
#include <cstdlib>

namespace tarven::test {
namespace {

constexpr Timeout kPollStep{0, 100 * 1000};
constexpr auto kIdleLimit = std::chrono::seconds(30);

}  // namespace

bool requestComplete(const std::string& bytes) {
    const auto headerEnd = bytes.find("\r\n\r\n");
    if (headerEnd == std::string::npos)
        return false;
    std::string header = bytes.substr(0, headerEnd);
    for (char& c : header)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t bodyLength = 0;
    const auto at = header.find("\ncontent-length:");
    if (at != std::string::npos) {
        bodyLength = std::strtoul(header.c_str() + at + 16, nullptr, 10);
    }
    return bytes.size() >= headerEnd + 4 + bodyLength;
}

TestPeer::TestPeer(PeerScript script) : script_(std::move(script)) {
    listener_.timeout = kPollStep;
    if (listener_.listenOn(0, "127.0.0.1") == 1)
        port_ = listener_.localPort();
    thread_ = std::thread([this] { serve(); });
}

TestPeer::~TestPeer() {
    stop_ = true;
    thread_.join();
}

std::string TestPeer::received(int count) {
    const auto deadline = std::chrono::steady_clock::now() + kIdleLimit;
    while (finished_.load() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const std::lock_guard lock(mutex_);
    return received_;
}

void TestPeer::serve() {
    while (!stop_) {
        const int handle = listener_.acceptPeer(nullptr);
        if (handle < 0)
            continue;
        TcpStream client(handle);
        client.timeout = kPollStep;
        serveOne(client);
        client.close();
        ++finished_;
    }
}

void TestPeer::serveOne(TcpStream& client) {
    std::string request;
    char chunk[4096];
    const auto readSome = [&]() {
        const int got = client.receive(chunk, sizeof chunk, 0);
        if (got > 0) {
            request.append(chunk, static_cast<std::size_t>(got));
            const std::lock_guard lock(mutex_);
            received_.append(chunk, static_cast<std::size_t>(got));
        }
        return got;
    };
    auto idleSince = std::chrono::steady_clock::now();
    if (script_.readRequest) {
        while (!stop_ && !requestComplete(request)) {
            const int got = readSome();
            if (got < 0)
                return;
            if (got > 0)
                idleSince = std::chrono::steady_clock::now();
            if (std::chrono::steady_clock::now() - idleSince > kIdleLimit)
                return;
        }
    }
    if (!script_.answer.empty()) {
        client.timeout = Timeout{};
        client.sendAll(script_.answer.data(), static_cast<int>(script_.answer.size()), 0);
        client.timeout = kPollStep;
    }
    if (script_.after == PeerScript::After::close)
        ::shutdown(client.handle, SHUT_WR);
    // Record whatever else arrives until the client closes.
    idleSince = std::chrono::steady_clock::now();
    while (!stop_) {
        const int got = readSome();
        if (got < 0)
            return;
        if (got > 0)
            idleSince = std::chrono::steady_clock::now();
        if (std::chrono::steady_clock::now() - idleSince > kIdleLimit)
            return;
    }
}

}  // namespace tarven::test

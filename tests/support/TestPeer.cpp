#include "support/TestPeer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "support/PeerChannel.h"

namespace tarven::test {
namespace {

constexpr auto kSleepStep = std::chrono::milliseconds(20);
constexpr std::size_t kFillerLine = 64;
constexpr std::size_t kStreamBlock = 64 * 1024;

// The body length that a request header names; 0 without a Content-length line.
std::size_t bodyLength(std::string header) {
    for (char& c : header)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto at = header.find("\ncontent-length:");
    return at == std::string::npos ? 0 : std::strtoul(header.c_str() + at + 16, nullptr, 10);
}

}  // namespace

bool requestComplete(const std::string& bytes) {
    const auto headerEnd = bytes.find("\r\n\r\n");
    if (headerEnd == std::string::npos)
        return false;
    return bytes.size() >= headerEnd + 4 + bodyLength(bytes.substr(0, headerEnd));
}

std::string fillerBytes(std::size_t from, std::size_t count) {
    std::string bytes;
    bytes.reserve(count + kFillerLine);
    std::size_t line = from / kFillerLine;
    const std::size_t skip = from % kFillerLine;
    while (bytes.size() < count + skip) {
        char text[kFillerLine + 1];
        std::snprintf(text, sizeof text, "%08zu", line % 100000000);
        std::string lineText(text);
        for (char c = 'a'; lineText.size() < kFillerLine - 2; c = c == 'z' ? 'a' : c + 1)
            lineText += c;
        bytes += lineText + "\r\n";
        ++line;
    }
    return bytes.substr(skip, count);
}

TestPeer::TestPeer(PeerScript script) : script_(std::move(script)) {
    if (!script_.tlsCertificateFile.empty()) {
        tls_.reset(loadTls(script_.tlsCertificateFile, script_.tlsKeyFile, script_.tlsOffer));
        // Without its certificate the peer does not listen, so a test cannot pass by luck.
        if (!tls_)
            return;
    }
    listener_.timeout = kPollStep;
    if (listener_.listenOn(0, script_.listenAddress.c_str()) == 1)
        port_ = listener_.localPort();
    if (script_.refuse) {
        // The port stays known but nobody listens on it any more.
        listener_.close();
        return;
    }
    thread_ = std::thread([this] { serve(); });
}

TestPeer::~TestPeer() {
    stop_ = true;
    if (thread_.joinable())
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

std::string TestPeer::negotiated() {
    const std::lock_guard lock(mutex_);
    return negotiated_;
}

void TestPeer::serve() {
    blockBrokenPipeSignal();
    while (!stop_) {
        const int handle = listener_.acceptPeer(nullptr);
        if (handle < 0)
            continue;
        TcpStream client(handle);
        client.timeout = kPollStep;
        serveOne(client);
        if (script_.after == PeerScript::After::reset) {
            closeWithReset(client);
        }
        client.close();
        ++finished_;
    }
}

bool TestPeer::pauseUnlessStopped(std::chrono::milliseconds pause) const {
    const auto until = std::chrono::steady_clock::now() + pause;
    while (!stop_ && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            kSleepStep, until - std::chrono::steady_clock::now()));
    return !stop_;
}

bool TestPeer::sendCounted(Channel& client, const char* bytes, std::size_t count) {
    // A client that stops reading for the full time-out ends the answer.
    client.stream().timeout = Timeout{};
    const int got = client.send(bytes, static_cast<int>(count));
    client.stream().timeout = kPollStep;
    if (got > 0)
        sent_ += static_cast<std::size_t>(got);
    return got == static_cast<int>(count);
}

void TestPeer::serveOne(TcpStream& stream) {
    Channel client(stream, tls_.get());
    if (client.tls()) {
        if (!client.handshake(stop_))
            return;
        const std::lock_guard lock(mutex_);
        negotiated_ = client.negotiated();
    }
    serveOne(client);
}

void TestPeer::serveOne(Channel& client) {
    using After = PeerScript::After;
    std::string request;
    char chunk[4096];
    const auto readSome = [&]() {
        const int got = client.receive(chunk, sizeof chunk);
        if (got > 0) {
            request.append(chunk, static_cast<std::size_t>(got));
            const std::lock_guard lock(mutex_);
            received_.append(chunk, static_cast<std::size_t>(got));
        }
        return got;
    };
    // Where the request ends, once its header has arrived; searched for only in new bytes,
    // so a request of many megabytes is not scanned again on every chunk.
    std::size_t requestEnd = std::string::npos;
    std::size_t searchedTo = 0;
    const auto complete = [&]() {
        if (requestEnd == std::string::npos) {
            const std::size_t from = searchedTo > 3 ? searchedTo - 3 : 0;
            const std::size_t headerEnd = request.find("\r\n\r\n", from);
            searchedTo = request.size();
            if (headerEnd == std::string::npos)
                return false;
            requestEnd = headerEnd + 4 + bodyLength(request.substr(0, headerEnd));
        }
        return request.size() >= requestEnd;
    };
    // Reads until `done` holds; false when the client closed or stayed idle too long.
    const auto readUntil = [&](const auto& done) {
        auto idleSince = std::chrono::steady_clock::now();
        while (!stop_ && !done()) {
            const int got = readSome();
            if (got < 0)
                return false;
            if (got > 0)
                idleSince = std::chrono::steady_clock::now();
            if (std::chrono::steady_clock::now() - idleSince > kIdleLimit)
                return false;
        }
        return true;
    };
    if (script_.readRequest && !readUntil(complete))
        return;
    bool going =
        script_.answer.empty() || sendCounted(client, script_.answer.data(), script_.answer.size());
    for (const std::string& part : script_.parts) {
        going = going && pauseUnlessStopped(script_.pause) &&
                sendCounted(client, part.data(), part.size());
    }
    for (std::size_t at = 0; going && at < script_.streamBytes; at += kStreamBlock) {
        const std::string block = fillerBytes(at, std::min(kStreamBlock, script_.streamBytes - at));
        going = !stop_ && sendCounted(client, block.data(), block.size());
    }

    switch (script_.after) {
        case After::abort:
        case After::reset:
            return;
        case After::ignore:
            pauseUnlessStopped(kIdleLimit);
            return;
        case After::close:
            client.endWrites();
            break;
        case After::staySilent:
            break;
    }
    // Record whatever else arrives until the client closes.
    readUntil([] { return false; });
}

}  // namespace tarven::test

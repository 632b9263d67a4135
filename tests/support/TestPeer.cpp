#include "support/TestPeer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace tarven::test {
namespace {

constexpr Timeout kPollStep{0, 100 * 1000};
constexpr auto kIdleLimit = std::chrono::seconds(30);
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

// Narrows what the server side offers; the client's settings stay untouched.
bool limitOffer(SSL_CTX* context, PeerScript::TlsOffer offer) {
    switch (offer) {
        case PeerScript::TlsOffer::usual:
            return true;
        case PeerScript::TlsOffer::tls11Only:
            // OpenSSL allows TLS 1.1 only at security level 0.
            SSL_CTX_set_security_level(context, 0);
            return SSL_CTX_set_min_proto_version(context, TLS1_VERSION) == 1 &&
                   SSL_CTX_set_max_proto_version(context, TLS1_1_VERSION) == 1;
        case PeerScript::TlsOffer::dheOnly:
            return SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION) == 1 &&
                   SSL_CTX_set_cipher_list(context, "kDHE") == 1 &&
                   SSL_CTX_set_dh_auto(context, 1) == 1;
    }
    return false;
}

}  // namespace

// One accepted connection, plain or TLS, as the script sees it.
class TestPeer::Channel {
  public:
    Channel(TcpStream& stream, SSL_CTX* tls) : stream_(stream) {
        if (tls == nullptr)
            return;
        // The TLS side uses the socket blocking, with the poll step as its receive time-out.
        const timeval receiveWait{0, kPollStep.microseconds};
        const timeval sendWait{Timeout{}.seconds, 0};
        ::setsockopt(stream.handle, SOL_SOCKET, SO_RCVTIMEO, &receiveWait, sizeof receiveWait);
        ::setsockopt(stream.handle, SOL_SOCKET, SO_SNDTIMEO, &sendWait, sizeof sendWait);
        ssl_.reset(SSL_new(tls));
        if (ssl_)
            SSL_set_fd(ssl_.get(), stream.handle);
    }
    bool tls() const { return ssl_ != nullptr; }
    TcpStream& stream() { return stream_; }

    // False when the handshake failed or the client stayed silent too long.
    bool handshake(const std::atomic<bool>& stop) {
        const auto deadline = std::chrono::steady_clock::now() + kIdleLimit;
        while (!stop && std::chrono::steady_clock::now() < deadline) {
            const int result = SSL_accept(ssl_.get());
            if (result == 1)
                return true;
            if (SSL_get_error(ssl_.get(), result) != SSL_ERROR_WANT_READ)
                break;
        }
        ERR_clear_error();
        ssl_.reset();
        return false;
    }
    // Bytes received; 0 when nothing came within the poll step; -1 when the client closed.
    int receive(char* buffer, int size) {
        if (!tls())
            return stream_.receive(buffer, size, 0);
        const int got = SSL_read(ssl_.get(), buffer, size);
        if (got > 0)
            return got;
        const int error = SSL_get_error(ssl_.get(), got);
        ERR_clear_error();
        return error == SSL_ERROR_WANT_READ ? 0 : -1;
    }
    int send(const char* bytes, int count) {
        if (!tls())
            return stream_.sendAll(bytes, count, 0);
        const int sent = SSL_write(ssl_.get(), bytes, count);
        ERR_clear_error();
        return sent;
    }
    // The orderly end of what the peer sends: close_notify first over TLS.
    void endWrites() {
        if (tls())
            SSL_shutdown(ssl_.get());
        ::shutdown(stream_.handle, SHUT_WR);
    }

  private:
    struct FreeSsl {
        void operator()(SSL* ssl) const { SSL_free(ssl); }
    };
    TcpStream& stream_;
    std::unique_ptr<SSL, FreeSsl> ssl_;
};

void TestPeer::FreeContext::operator()(ssl_ctx_st* context) const {
    SSL_CTX_free(context);
}

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
        tls_.reset(SSL_CTX_new(TLS_server_method()));
        if (!tls_ ||
            SSL_CTX_use_certificate_chain_file(tls_.get(), script_.tlsCertificateFile.c_str()) !=
                1 ||
            SSL_CTX_use_PrivateKey_file(tls_.get(), script_.tlsKeyFile.c_str(), SSL_FILETYPE_PEM) !=
                1) {
            // Without its certificate the peer does not listen, so a test cannot pass by luck.
            ERR_clear_error();
            return;
        }
        if (!limitOffer(tls_.get(), script_.tlsOffer)) {
            ERR_clear_error();
            return;
        }
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

void TestPeer::serve() {
    // OpenSSL writes with plain write(): a client that gives up mid-handshake must cost the
    // peer an EPIPE, not the test process a SIGPIPE. The signal is thread-directed, so
    // blocking it here is enough.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    while (!stop_) {
        const int handle = listener_.acceptPeer(nullptr);
        if (handle < 0)
            continue;
        TcpStream client(handle);
        client.timeout = kPollStep;
        serveOne(client);
        if (script_.after == PeerScript::After::reset) {
            // A zero linger time makes the close send a reset instead of a FIN.
            const linger abortive{1, 0};
            ::setsockopt(client.handle, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
            ::close(client.handle);
            client.handle = -1;
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
    if (client.tls() && !client.handshake(stop_))
        return;
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

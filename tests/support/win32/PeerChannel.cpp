// The test peer on Windows. Its TLS side runs in the Linux build's tarven-tls-helper, as this
// build has no OpenSSL: the bytes the client sends go there, and what comes back goes to the
// client, so every socket action (half-close, reset, silence) stays the peer's own.

#include "support/PeerChannel.h"

#include <winsock2.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "LinuxHelper.h"

namespace tarven::test {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

const char* offerName(PeerScript::TlsOffer offer) {
    switch (offer) {
        case PeerScript::TlsOffer::tls11Only:
            return "tls11";
        case PeerScript::TlsOffer::dheOnly:
            return "dhe";
        case PeerScript::TlsOffer::usual:
            break;
    }
    return "usual";
}

}  // namespace

struct TestPeer::Tls {
    LinuxHelper helper;
};

struct TestPeer::Channel::Session {
    explicit Session(const LinuxHelper& link) : helper(link) {}
    ~Session() {
        HelperMessage answer;
        helper.ask({'e', {}}, answer);
    }
    // Hands the helper's bytes for the client on; the answer's kind, or 0 when that failed.
    char exchange(TcpStream& stream, const HelperMessage& request, HelperMessage& answer) const {
        if (!helper.ask(request, answer) || answer.fields.empty())
            return 0;
        const std::string& out = answer.fields[0];
        // A client that stops reading for the full time-out ends the exchange.
        const Timeout step = stream.timeout;
        stream.timeout = Timeout{};
        const bool sent = out.empty() || stream.sendAll(out.data(), static_cast<int>(out.size()),
                                                        0) == static_cast<int>(out.size());
        stream.timeout = step;
        return sent ? answer.kind : 0;
    }

    const LinuxHelper& helper;
    std::string pending;  // plain bytes received, not yet read
    std::string negotiated;
    bool closed = false;
};

TestPeer::Tls* TestPeer::loadTls(const std::string& certificateFile, const std::string& keyFile,
                                 PeerScript::TlsOffer offer) {
    auto tls = std::make_unique<Tls>();
    HelperMessage answer;
    if (!tls->helper.ask({'c', {readFile(certificateFile), readFile(keyFile), offerName(offer)}},
                         answer) ||
        answer.kind != 'o')
        return nullptr;
    return tls.release();
}

void blockBrokenPipeSignal() {}

bool runningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void TestPeer::FreeTls::operator()(Tls* tls) const {
    delete tls;
}

TestPeer::Channel::Channel(TcpStream& stream, const Tls* tls) : stream_(stream) {
    HelperMessage answer;
    if (tls != nullptr && tls->helper.ask({'b', {}}, answer) && answer.kind == 'o')
        session_ = std::make_unique<Session>(tls->helper);
}

TestPeer::Channel::~Channel() = default;

bool TestPeer::Channel::handshake(const std::atomic<bool>& stop) {
    const auto deadline = std::chrono::steady_clock::now() + kIdleLimit;
    std::string bytes;
    while (!stop && std::chrono::steady_clock::now() < deadline) {
        HelperMessage answer;
        const char kind = session_->exchange(stream_, {'f', {bytes}}, answer);
        if ((kind == 'd' || kind == 'c') && answer.fields.size() == 3) {
            session_->pending = answer.fields[1];
            session_->negotiated = answer.fields[2];
            session_->closed = kind == 'c';
            return true;
        }
        if (kind != 'h')
            break;
        char chunk[16384];
        int got = 0;
        while (got == 0 && !stop && std::chrono::steady_clock::now() < deadline)
            got = stream_.receive(chunk, sizeof chunk, 0);
        if (got < 0)
            break;
        bytes.assign(chunk, static_cast<std::size_t>(std::max(got, 0)));
    }
    session_.reset();
    return false;
}

std::string TestPeer::Channel::negotiated() const {
    return tls() ? session_->negotiated : "";
}

int TestPeer::Channel::receive(char* buffer, int size) {
    if (!tls())
        return stream_.receive(buffer, size, 0);
    Session& session = *session_;
    if (session.pending.empty() && !session.closed) {
        char chunk[16384];
        const int got = stream_.receive(chunk, sizeof chunk, 0);
        if (got <= 0)
            return got;
        HelperMessage answer;
        const char kind = session.exchange(
            stream_, {'f', {std::string(chunk, static_cast<std::size_t>(got))}}, answer);
        if ((kind != 'd' && kind != 'c') || answer.fields.size() != 3)
            return -1;
        session.pending = answer.fields[1];
        session.closed = kind == 'c';
    }
    if (session.pending.empty())
        return session.closed ? -1 : 0;
    const int count = std::min(size, static_cast<int>(session.pending.size()));
    std::memcpy(buffer, session.pending.data(), static_cast<std::size_t>(count));
    session.pending.erase(0, static_cast<std::size_t>(count));
    return count;
}

int TestPeer::Channel::send(const char* bytes, int count) {
    if (!tls())
        return stream_.sendAll(bytes, count, 0);
    HelperMessage answer;
    return session_->exchange(stream_, {'w', {std::string(bytes, static_cast<std::size_t>(count))}},
                              answer) == 'o'
               ? count
               : -1;
}

void TestPeer::Channel::endWrites() {
    if (tls()) {
        HelperMessage answer;
        session_->exchange(stream_, {'s', {}}, answer);
    }
    ::shutdown(static_cast<SOCKET>(stream_.handle), SD_SEND);
}

void closeWithReset(TcpStream& stream) {
    // A zero linger time makes the close send a reset instead of a FIN (not under Wine 8, which
    // sends a FIN all the same).
    const linger abortive{1, 0};
    ::setsockopt(static_cast<SOCKET>(stream.handle), SOL_SOCKET, SO_LINGER,
                 reinterpret_cast<const char*>(&abortive), sizeof abortive);
    ::closesocket(static_cast<SOCKET>(stream.handle));
    stream.handle = -1;
}

}  // namespace tarven::test

#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "net/TcpStream.h"

namespace tarven::test {

// What the loopback peer does with each connection it accepts.
struct PeerScript {
    enum class After { close, staySilent };
    // Read the whole request (header and any Content-length body) before answering.
    bool readRequest = true;
    std::string answer;
    After after = After::close;
};

// A server on 127.0.0.1, on a port the system picks, built on TcpStream's listening side. It
// serves one connection at a time on its own thread, records every byte it receives, answers
// with the script's bytes, then closes or stays silent until the client closes.
class TestPeer {
  public:
    explicit TestPeer(PeerScript script);
    ~TestPeer();
    TestPeer(const TestPeer&) = delete;
    TestPeer& operator=(const TestPeer&) = delete;

    int port() const { return port_; }
    std::string portText() const { return std::to_string(port_); }
    // Waits until `count` connections have ended, then returns every byte received.
    std::string received(int count = 1);
    int connections() const { return finished_.load(); }

  private:
    void serve();
    void serveOne(TcpStream& client);

    PeerScript script_;
    TcpStream listener_;
    int port_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> finished_{0};
    std::mutex mutex_;
    std::string received_;
    std::thread thread_;
};

// True when the bytes hold a whole HTTP request: the header and the body its
// Content-length names.
bool requestComplete(const std::string& bytes);

}  // namespace tarven::test

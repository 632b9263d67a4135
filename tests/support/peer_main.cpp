// tarven-peer: a small HTTP peer on 127.0.0.1 (or the loopback address --listen names, such as
// ::1) for demonstrations and end-to-end checks. It prints the port it listens on, then
// answers each request with a short page and closes. With --trickle N it sends N lines after
// the header instead, one every half second, then closes; with --silent it sends the header
// and then nothing, until the client closes. Each request line goes to standard error; with
// --record FILE each whole request is added to FILE as it came.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "support/TestPeer.h"

int main(int argc, char** argv) {
    int port = 0;
    int trickle = 0;
    bool silent = false;
    const char* address = "127.0.0.1";
    const char* record = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            port = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--trickle") == 0 && i + 1 < argc) {
            trickle = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--record") == 0 && i + 1 < argc) {
            record = argv[++i];
        } else if (std::strcmp(argv[i], "--silent") == 0) {
            silent = true;
        } else if (std::strcmp(argv[i], "--listen") == 0 && i + 1 < argc &&
                   (std::strcmp(argv[i + 1], "127.0.0.1") == 0 ||
                    std::strcmp(argv[i + 1], "::1") == 0)) {
            address = argv[++i];
        } else {
            std::fprintf(stderr,
                         "Usage: tarven-peer [--port N] [--listen 127.0.0.1|::1] "
                         "[--record FILE] [--trickle N | --silent]\n");
            return 2;
        }
    }
    tarven::TcpStream listener;
    listener.timeout = tarven::Timeout{3600, 0};
    if (listener.listenOn(port, address) != 1) {
        std::fprintf(stderr, "tarven-peer: cannot listen on %s:%d\n", address, port);
        return 1;
    }
    std::printf("%d\n", listener.localPort());
    std::fflush(stdout);

    const std::string body =
        "Hello from the Tarven demo peer.\r\n"
        "It received your request and answers with this short page.\r\n";
    const std::string answer =
        "HTTP/1.0 200 OK\r\n"
        "Content-Type: text/plain; charset=utf-8\r\n"
        "Content-Length: " +
        std::to_string(body.size()) +
        "\r\n"
        "Connection: close\r\n"
        "\r\n" +
        body;
    for (;;) {
        const int handle = listener.acceptPeer(nullptr);
        if (handle < 0)
            continue;
        tarven::TcpStream client(handle);
        std::string request;
        char chunk[4096];
        while (!tarven::test::requestComplete(request)) {
            const int got = client.receive(chunk, sizeof chunk, 0);
            if (got <= 0)
                break;
            request.append(chunk, static_cast<std::size_t>(got));
        }
        std::fprintf(stderr, "%s\n", request.substr(0, request.find('\r')).c_str());
        if (record != nullptr) {
            if (std::FILE* file = std::fopen(record, "ab")) {
                std::fwrite(request.data(), 1, request.size(), file);
                std::fclose(file);
            }
        }
        if (trickle == 0 && !silent) {
            client.sendAll(answer.data(), static_cast<int>(answer.size()), 0);
            client.close();
            continue;
        }
        client.sendAll("HTTP/1.0 200 OK\r\n\r\n", 0, 0);
        for (int line = 1; line <= trickle; ++line) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            const std::string text =
                "line " + std::to_string(line) + " of " + std::to_string(trickle) + "\r\n";
            if (client.sendAll(text.c_str(), 0, 0) <= 0)
                break;
        }
        while (silent && client.receive(chunk, sizeof chunk, 0) != -1) {
        }
        client.close();
    }
}

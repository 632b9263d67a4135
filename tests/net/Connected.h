#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "net/TcpStream.h"

namespace tarven::test {

// A listener on 127.0.0.1 on a port the system picks, and the client connected to it.
struct Connected {
    Connected() {
        EXPECT_EQ(listener.listenOn(0, "127.0.0.1"), 1);
        const std::string port = std::to_string(listener.localPort());
        EXPECT_EQ(client.connectTo("127.0.0.1", port.c_str()), 0);
        const int handle = listener.acceptPeer(nullptr);
        EXPECT_GE(handle, 0);
        peer = std::make_unique<TcpStream>(handle);
    }
    TcpStream listener;
    TcpStream client;
    std::unique_ptr<TcpStream> peer;
};

}  // namespace tarven::test

#pragma once

#include <memory>

#include "net/TcpStream.h"
#include "support/HelperLink.h"

namespace tarven::test {

// tarven-tls-helper of the Linux build (named by TARVEN_TLS_HELPER), started through Wine,
// which runs a Linux program given to CreateProcessW but hands back no handle to it. So the
// helper connects back to a port opened here, and ends when that connection closes.
class LinuxHelper {
  public:
    LinuxHelper();
    bool ready() const { return link_ != nullptr; }
    // Sends the request and waits for its answer; false when the helper is gone. Requests go
    // in turn from one thread at a time: the test's, then the peer's.
    bool ask(const HelperMessage& request, HelperMessage& answer) const;

  private:
    std::unique_ptr<TcpStream> link_;
};

}  // namespace tarven::test

#pragma once

// What the program and its TLS module agree on. The module holds the TLS library, so a run
// that never asks for TLS never maps it; net/TlsModule.cpp opens it at the first TLS run.
// Both sides come from one build: kTlsModuleAbi turns away a module from another one.

#include <memory>
#include <string>

#include "net/TlsSession.h"

namespace tarven::tlsmodule {

constexpr int kTlsModuleAbi = 1;
// The module's one exported symbol, a function returning `const Entry*`.
constexpr char kEntryName[] = "tarven_tls_module";

// The stream's readiness waits: ready sockets, 0 on time-out, -1 on failure.
class Waits {
  public:
    virtual int readable() = 0;
    virtual int writable() = 0;

  protected:
    ~Waits() = default;
};

// The results are TlsSession's.
class Session {
  public:
    virtual ~Session() = default;
    virtual int send(const char* bytes, int count) = 0;
    virtual int receive(char* buffer, int size) = 0;
    virtual void shutdown() = 0;
};

class Context {
  public:
    virtual ~Context() = default;
    // TlsSession::start's contract; `waits` outlives the session.
    virtual std::unique_ptr<Session> start(int socket, Waits& waits, const char* server,
                                           std::string& report) const = 0;
};

struct Entry {
    int abi;
    // None when the library could not be set up or the CA file could not be loaded.
    std::unique_ptr<Context> (*newContext)(TlsVerify verify, const char* caFile);
    std::string (*libraryVersion)();
};

using EntryFunction = const Entry* (*)();

}  // namespace tarven::tlsmodule

// The TLS backend that opens the TLS module (net/TlsModule.h) at the first TLS run, so a plain
// run neither loads nor maps the TLS library. Without the module, TLS is not available.

#include "net/TlsModule.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <string>

#include "net/TcpStream.h"
#include "net/TlsSession.h"

namespace tarven {
namespace {

// The module's place from the program's folder, the same in the build tree and installed.
constexpr char kModulePath[] = TARVEN_TLS_MODULE_PATH;

// The folder of the running program, with its final '/'; empty when it cannot be told.
std::string programFolder() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path)
        return {};
    std::string folder(path, static_cast<std::size_t>(length));
    return folder.substr(0, folder.rfind('/') + 1);
}

// The module, opened once per process by the first caller and closed at exit.
class Module {
  public:
    static const tlsmodule::Entry* entry() {
        static const Module module;
        return module.entry_;
    }

    ~Module() {
        if (handle_ != nullptr)
            ::dlclose(handle_);
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

  private:
    Module() {
        const std::string folder = programFolder();
        if (folder.empty())
            return;
        handle_ = ::dlopen((folder + kModulePath).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr)
            return;
        const auto find =
            reinterpret_cast<tlsmodule::EntryFunction>(::dlsym(handle_, tlsmodule::kEntryName));
        const tlsmodule::Entry* entry = find != nullptr ? find() : nullptr;
        if (entry != nullptr && entry->abi == tlsmodule::kTlsModuleAbi)
            entry_ = entry;
    }

    void* handle_ = nullptr;
    const tlsmodule::Entry* entry_ = nullptr;
};

}  // namespace

struct TlsContext::Backend {
    std::unique_ptr<tlsmodule::Context> context;
};

// The module's session waits through the stream, so each wait keeps the stream's time-out.
struct TlsSession::Backend final : tlsmodule::Waits {
    explicit Backend(TcpStream& s) : stream(s) {}
    int readable() override { return stream.waitReadable(); }
    int writable() override { return stream.waitWritable(); }

    TcpStream& stream;
    std::unique_ptr<tlsmodule::Session> session;
};

TlsContext::TlsContext(TlsVerify verify, const char* caFile)
    : verify_(verify), backend_(std::make_unique<Backend>()) {
    if (const tlsmodule::Entry* module = Module::entry())
        backend_->context = module->newContext(verify, caFile);
}

TlsContext::~TlsContext() = default;

bool TlsContext::ready() const {
    return backend_->context != nullptr;
}

TlsSession::TlsSession(std::unique_ptr<Backend> backend) : backend_(std::move(backend)) {}

TlsSession::~TlsSession() = default;

std::unique_ptr<TlsSession> TlsSession::start(const TlsContext& context, TcpStream& stream,
                                              const char* server, std::string& report) {
    report = "the TLS library could not be set up";
    if (!context.ready())
        return nullptr;
    auto backend = std::make_unique<Backend>(stream);
    backend->session = context.backend()->context->start(stream.handle, *backend, server, report);
    if (!backend->session)
        return nullptr;
    return std::unique_ptr<TlsSession>(new TlsSession(std::move(backend)));
}

int TlsSession::send(const char* bytes, int count) {
    return backend_->session->send(bytes, count);
}

int TlsSession::receive(char* buffer, int size) {
    return backend_->session->receive(buffer, size);
}

void TlsSession::shutdown() {
    backend_->session->shutdown();
}

bool tlsAvailable() {
    return Module::entry() != nullptr;
}

std::string tlsLibraryVersion() {
    const tlsmodule::Entry* module = Module::entry();
    return module != nullptr ? module->libraryVersion() : "none";
}

}  // namespace tarven

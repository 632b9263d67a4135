#include "LinuxHelper.h"

#include <windows.h>

#include <string>

#include "platform/TextCodec.h"
#include "support/Process.h"

namespace tarven::test {

LinuxHelper::LinuxHelper() {
    const std::string program = programFromEnvironment("TARVEN_TLS_HELPER");
    TcpStream listener;
    // Making an RSA key or a certificate with thousands of names takes a while.
    listener.timeout = Timeout{30, 0};
    if (program.empty() || listener.listenOn(0, "127.0.0.1") != 1)
        return;
    const std::string line = "\"" + program + "\" " + std::to_string(listener.localPort());
    std::u16string wideProgram = platform::utf8ToUtf16(program.data(), program.size());
    std::u16string wideLine = platform::utf8ToUtf16(line.data(), line.size());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!::CreateProcessW(reinterpret_cast<const wchar_t*>(wideProgram.c_str()),
                          reinterpret_cast<wchar_t*>(wideLine.data()), nullptr, nullptr, FALSE,
                          CREATE_NO_WINDOW, nullptr, nullptr, &startup, &child))
        return;
    if (child.hThread != nullptr)
        ::CloseHandle(child.hThread);
    if (child.hProcess != nullptr)
        ::CloseHandle(child.hProcess);
    // Under Wine one long wait on the listener can miss the helper's connect, and the test
    // then stalls for the whole time-out; waits of a tenth of a second each see it.
    const Timeout longest = listener.timeout;
    listener.timeout = Timeout{0, 100 * 1000};
    int handle = -1;
    for (long step = 0; handle < 0 && step < longest.seconds * 10; ++step)
        handle = listener.acceptPeer(nullptr);
    if (handle < 0)
        return;
    link_ = std::make_unique<TcpStream>(handle);
    link_->timeout = longest;
}

bool LinuxHelper::ask(const HelperMessage& request, HelperMessage& answer) const {
    return link_ != nullptr && sendMessage(*link_, request) && receiveMessage(*link_, answer);
}

}  // namespace tarven::test

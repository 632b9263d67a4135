#include "platform/Environment.h"

#include <cstdlib>
#include <cstring>

#include "platform/TextCodec.h"

namespace tarven::platform {

std::u16string userConfigPath(const char16_t* fileName) {
    std::string dir;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    // The XDG rules ignore a relative XDG_CONFIG_HOME.
    if (xdg && xdg[0] == '/') {
        dir = xdg;
    } else if (home && home[0] == '/') {
        dir = std::string(home) + "/.config";
    } else {
        return {};
    }
    const std::string name = utf16ToUtf8(fileName);
    const std::string path = dir + "/tarven/" + name;
    return utf8ToUtf16(path.data(), path.size());
}

const char* descriptionSearchHelp() {
    return "tarven.txt is looked for beside the program, then in $XDG_CONFIG_HOME/tarven/\n"
           "(~/.config/tarven/ by default), then in /etc/tarven/.\n";
}

std::u16string systemConfigFolder() {
    return u"/etc/tarven";
}

}  // namespace tarven::platform

#include "platform/Environment.h"

#include <windows.h>

namespace tarven::platform {
namespace {

// The variable's value, or empty when it is not set.
std::u16string variable(const wchar_t* name) {
    wchar_t value[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(name, value, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::u16string(reinterpret_cast<const char16_t*>(value), length);
}

}  // namespace

std::u16string userConfigPath(const char16_t* fileName) {
    const std::u16string dir = variable(L"APPDATA");
    if (dir.empty())
        return {};
    return dir + u"\\Tarven\\" + fileName;
}

const char* descriptionSearchHelp() {
    return "tarven.txt is looked for beside the program, then in %APPDATA%\\Tarven\\,\n"
           "then in %ProgramData%\\Tarven\\.\n";
}

std::u16string systemConfigFolder() {
    const std::u16string dir = variable(L"ProgramData");
    return dir.empty() ? std::u16string() : dir + u"\\Tarven";
}

}  // namespace tarven::platform

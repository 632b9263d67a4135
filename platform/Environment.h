#pragma once

#include <string>

namespace tarven::platform {

// Where an installed program's user keeps its description file:
// $XDG_CONFIG_HOME/tarven/<name>, or ~/.config/tarven/<name>. Empty when neither
// XDG_CONFIG_HOME nor HOME gives an absolute folder.
std::u16string userConfigPath(const char16_t* fileName);

// The help's lines on where tarven.txt is looked for.
const char* descriptionSearchHelp();

// The machine-wide folder searched after the user's: /etc/tarven.
std::u16string systemConfigFolder();

}  // namespace tarven::platform

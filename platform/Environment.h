#pragma once

#include <string>

namespace tarven::platform {

// Where an installed program's user keeps its description file:
// $XDG_CONFIG_HOME/tarven/<name>, or ~/.config/tarven/<name>. Empty when neither
// XDG_CONFIG_HOME nor HOME gives an absolute folder.
std::u16string userConfigPath(const char16_t* fileName);

}  // namespace tarven::platform

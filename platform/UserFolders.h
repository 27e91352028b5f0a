#pragma once

#include <string>

// Where a user's files go on this system, and the machine's name. Any
// thread.

namespace platform {

// $XDG_CONFIG_HOME, or ~/.config when it is unset or not absolute.
std::string ConfigHome();
// $XDG_DATA_HOME, or ~/.local/share when it is unset or not absolute.
std::string DataHome();
// The window's settings file in the config folder, which `veq flash` reads
// too: ConfigHome()/veq-programmer/veq-programmer.ini.
std::string SettingsFileInConfigHome();

// The machine's host name; empty when the system does not tell it.
std::string HostName();

}  // namespace platform

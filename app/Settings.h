#pragma once

#include <string>

class TForm1;

// The settings file: the serial line settings, the UDP addresses and link,
// the last image, the window's bounds, and where the records of runs go. It is kept beside the executable when
// one is there, otherwise where Linux keeps a user's settings.

// The running executable's path with its extension replaced by ".ini" (or
// ".ini" appended when it has none).
std::string IniPathBesideExecutable();
std::string IniPathFor(const std::string& executable);
// $XDG_CONFIG_HOME/veq-programmer/veq-programmer.ini, with ~/.config for an
// unset (or not absolute) XDG_CONFIG_HOME.
std::string IniPathInConfigHome();
// beside when that file exists, otherwise the one in the config folder.
std::string IniPathToRead(const std::string& beside);

// Reads the window's settings file into its controls and the session, and
// checks the stored image. A missing file gives every default.
void LoadSettings(TForm1& form);

// Replaces the settings file with the current values: exactly the fifteen
// keys, and the records file when the settings named one, whatever else the
// file held. When the file read cannot be written, they go
// to the one in the config folder (made when missing). False when neither
// could be written; nothing is changed then.
bool SaveSettings(TForm1& form);

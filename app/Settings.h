#pragma once

#include <string>

class TForm1;

// The settings file kept beside the executable: the serial line settings,
// the UDP addresses and link, the last image, the window's bounds.

// The running executable's path with its extension replaced by ".ini" (or
// ".ini" appended when it has none).
std::string IniPathBesideExecutable();
std::string IniPathFor(const std::string& executable);

// Reads the window's settings file into its controls and the session, and
// checks the stored image. A missing file gives every default.
void LoadSettings(TForm1& form);

// Replaces the settings file with the current values: exactly the fifteen
// keys, whatever the file held. A failure saves nothing and says nothing.
void SaveSettings(TForm1& form);

#pragma once

#include <string>
#include <vector>

// The serial ports present, for the operator to choose from. Any thread.
// Every failure is an EComPort (serial/BCPort.h) with the system's number.

// Replaces the contents of ports with the names of the serial devices present,
// sorted ignoring case; on failure ports is left as it was.
void ListSerialPorts(std::vector<std::string>& ports);
// The same over another folder of terminals, as the system shows them (one
// entry per terminal), and folder of device nodes.
void ListSerialPortsFrom(const std::string& classDir, const std::string& deviceDir,
                         std::vector<std::string>& ports);

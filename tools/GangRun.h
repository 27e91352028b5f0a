#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

class TSignalWatcher;

// `veq flash` with several targets: one `veq flash --json` child per board,
// started without a shell, all at once. On a terminal one live line per
// board; at the end a table of outcomes (standard output) and each failed
// board's own error lines (standard error). With --json, standard output
// carries every child's events, each tagged with its target. A signal is
// passed on to every child, which disconnects its board. Main thread only.

struct TGangTarget {
  bool Udp = false;
  std::string Port;     // serial: the port text
  std::string Ip;       // UDP: the device's address
  uint16_t UdpPort = 0;  // UDP: the device's port
  // "ttyUSB0", "10.0.0.7:1001": how tables, lines and events name it.
  std::string Label() const;
};

struct TGangOptions {
  std::string Image;
  std::vector<TGangTarget> Targets;
  std::vector<std::string> SerialArgs;  // the line settings, for serial targets
  std::vector<std::string> CommonArgs;  // --yes, --connect-timeout, --debug, --records
  bool Json = false;
};

// The exit status of a gang: 0 when every board was written, otherwise the
// status of the failure that ranks first in kGangExitPriority.
int GangExitStatus(const std::vector<int>& statuses);

int RunGang(const TGangOptions& options, const TSignalWatcher& signals, std::ostream& out,
            std::ostream& err);

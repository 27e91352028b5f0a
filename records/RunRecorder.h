#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/RunEnd.h"
#include "engine/Session.h"
#include "records/RecordBook.h"

// The records of one front end's runs. A run is added as started before its
// first block goes out and completed at its end, so that a run cut short by
// a crash or a power cut stays "interrupted" rather than missing. A file that
// cannot be opened or written never stops a run: the log is told once, and
// the runs go on unrecorded. Main thread only.
class TRunRecorder {
 public:
  using TLog = std::function<void(const std::string&)>;

  // The file is opened at the first run.
  TRunRecorder(std::string path, TLog log);
  ~TRunRecorder();
  TRunRecorder(const TRunRecorder&) = delete;
  TRunRecorder& operator=(const TRunRecorder&) = delete;

  // link: "serial" or "udp"; target: the port, or the address and port.
  void Started(const std::string& link, const std::string& target, const std::string& image,
               const std::string& deviceId);
  // outcome: a word of kRunOutcomeWords. Nothing when no run was started.
  void Ended(const std::string& outcome, const TProgress& progress, const TRunEnd& end,
             double seconds, const std::string& deviceId);
  bool RunOpen() const { return Open; }

 private:
  bool EnsureBook();
  void NotRecorded(const std::string& reason);

  std::string Path;
  TLog Log;
  std::unique_ptr<TRecordBook> Book;
  bool Told = false;
  bool Open = false;
  TRunRecord Current;
};

// Where the records go when neither `--records` nor the settings name a
// file: DataHome()/veq/records.sqlite. A recorder makes its folder when
// missing.
std::string DefaultRecordsPath();
// The file the settings name ([Records] File=), empty when none.
std::string RecordsPathInSettings(const std::string& iniPath);
// The file the command line uses when no --records names one: the one the
// window's settings file in the config folder names, or the default.
std::string ChosenRecordsPath();

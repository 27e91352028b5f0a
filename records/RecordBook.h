#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

// The records of runs: one SQLite file that every `veq flash` and every Start
// in the window append to and `veq records` reads. Several processes may
// write one file at once: it keeps a write-ahead log and waits for a busy
// file. An object belongs to the thread that made it.

struct TRunRecord {
  int64_t Id = 0;
  std::string Started;  // UTC, as UtcText gives it
  std::string Ended;    // empty while the run is on, and for ever if it never ended
  std::string Host;
  std::string Link;    // "serial" or "udp"
  std::string Target;  // the port, or the address and port
  std::string DeviceId;
  std::string Image;
  std::string ImageSha256;
  std::string Board, Variant, Version;  // of the image's first section
  uint64_t Blocks = 0, Bytes = 0;       // written
  double Seconds = 0;                   // spent writing
  std::string Outcome;                  // a word of kRunOutcomeWords
  // Where writing stood at the end; none when it never began.
  std::optional<int32_t> Section, Block;
  std::string ProgramVersion;
};

struct TRecordFilter {
  std::string DeviceId;  // empty: any device
  std::string Since;     // a UtcText; empty: from the first record
  std::string Outcome;   // empty: any outcome
};

class TRecordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TRecordBook {
 public:
  enum class TAccess {
    Append,  // makes the file and its table when missing (not the folder)
    Read,    // the file must exist and hold the table
  };
  // Throws TRecordError with the reason.
  TRecordBook(const std::string& path, TAccess access);
  ~TRecordBook();
  TRecordBook(const TRecordBook&) = delete;
  TRecordBook& operator=(const TRecordBook&) = delete;

  // Appends the record as it stands (its Id is ignored) and returns its Id.
  int64_t Add(const TRunRecord& record);
  // Rewrites what a run learns by its end into the record record.Id.
  void Complete(const TRunRecord& record);
  // Oldest first.
  std::vector<TRunRecord> List(const TRecordFilter& filter);

 private:
  void Execute(const char* sql);
  sqlite3* Db = nullptr;
};

// "2026-12-09T07:30:05Z": UTC to the second, which sorts as text.
std::string UtcText(std::chrono::system_clock::time_point when);
// A date "YYYY-MM-DD" (its midnight) or a time as UtcText writes it, as
// UtcText; none when the text is neither or names no real day.
std::optional<std::string> ParseUtcText(const std::string& text);

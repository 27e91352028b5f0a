#include "records/RecordBook.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdio>
#include <memory>

namespace {

// How long a writer waits for another process that holds the file.
constexpr int kBusyTimeoutMs = 10000;

// Version 1 of the table; PRAGMA user_version says which one a file holds.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS runs ("
    " id INTEGER PRIMARY KEY,"
    " started TEXT NOT NULL, ended TEXT,"
    " host TEXT NOT NULL, link TEXT NOT NULL, target TEXT NOT NULL,"
    " device_id TEXT NOT NULL, image TEXT NOT NULL, image_sha256 TEXT NOT NULL,"
    " board TEXT NOT NULL, variant TEXT NOT NULL, version TEXT NOT NULL,"
    " blocks INTEGER NOT NULL, bytes INTEGER NOT NULL, seconds REAL NOT NULL,"
    " outcome TEXT NOT NULL, section INTEGER, block INTEGER,"
    " program_version TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS runs_started ON runs (started);"
    "PRAGMA user_version = 1;";

constexpr const char* kColumns =
    "id, started, ended, host, link, target, device_id, image, image_sha256, board, variant,"
    " version, blocks, bytes, seconds, outcome, section, block, program_version";

struct TStatementCloser {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using TStatement = std::unique_ptr<sqlite3_stmt, TStatementCloser>;

std::string Reason(sqlite3* db) { return sqlite3_errmsg(db); }

TStatement Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
    throw TRecordError(Reason(db));
  return TStatement(statement);
}

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                    SQLITE_TRANSIENT);
}

void BindOptional(sqlite3_stmt* statement, int index, const std::optional<int32_t>& value) {
  if (value) {
    sqlite3_bind_int(statement, index, *value);
  } else {
    sqlite3_bind_null(statement, index);
  }
}

// What a run learns by its end, bound from index 1 on, in the order of
// kCompletion.
void BindCompletion(sqlite3_stmt* statement, const TRunRecord& record) {
  BindText(statement, 1, record.Ended);
  BindText(statement, 2, record.DeviceId);
  sqlite3_bind_int64(statement, 3, static_cast<int64_t>(record.Blocks));
  sqlite3_bind_int64(statement, 4, static_cast<int64_t>(record.Bytes));
  sqlite3_bind_double(statement, 5, record.Seconds);
  BindText(statement, 6, record.Outcome);
  BindOptional(statement, 7, record.Section);
  BindOptional(statement, 8, record.Block);
}
constexpr const char* kCompletion =
    "ended = NULLIF(?1, ''), device_id = ?2, blocks = ?3, bytes = ?4, seconds = ?5,"
    " outcome = ?6, section = ?7, block = ?8";

void Finish(sqlite3* db, sqlite3_stmt* statement) {
  if (sqlite3_step(statement) != SQLITE_DONE) throw TRecordError(Reason(db));
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const auto* text = sqlite3_column_text(statement, column);
  return text == nullptr ? std::string()
                         : std::string(reinterpret_cast<const char*>(text),
                                       static_cast<size_t>(sqlite3_column_bytes(statement, column)));
}

std::optional<int32_t> ColumnOptional(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_int(statement, column);
}

TRunRecord ReadRow(sqlite3_stmt* row) {
  TRunRecord record;
  record.Id = sqlite3_column_int64(row, 0);
  record.Started = ColumnText(row, 1);
  record.Ended = ColumnText(row, 2);
  record.Host = ColumnText(row, 3);
  record.Link = ColumnText(row, 4);
  record.Target = ColumnText(row, 5);
  record.DeviceId = ColumnText(row, 6);
  record.Image = ColumnText(row, 7);
  record.ImageSha256 = ColumnText(row, 8);
  record.Board = ColumnText(row, 9);
  record.Variant = ColumnText(row, 10);
  record.Version = ColumnText(row, 11);
  record.Blocks = static_cast<uint64_t>(sqlite3_column_int64(row, 12));
  record.Bytes = static_cast<uint64_t>(sqlite3_column_int64(row, 13));
  record.Seconds = sqlite3_column_double(row, 14);
  record.Outcome = ColumnText(row, 15);
  record.Section = ColumnOptional(row, 16);
  record.Block = ColumnOptional(row, 17);
  record.ProgramVersion = ColumnText(row, 18);
  return record;
}

}  // namespace

TRecordBook::TRecordBook(const std::string& path, TAccess access) {
  // Without SQLITE_OPEN_URI the path is a file name, never a URI. A reader
  // opens for writing too: the write-ahead log's index is shared memory
  // that every user of the file updates.
  const int flags = SQLITE_OPEN_READWRITE | (access == TAccess::Append ? SQLITE_OPEN_CREATE : 0);
  const int opened = sqlite3_open_v2(path.c_str(), &Db, flags, nullptr);
  if (opened != SQLITE_OK) {
    const std::string reason = Db != nullptr ? Reason(Db) : sqlite3_errstr(opened);
    sqlite3_close(Db);
    Db = nullptr;
    throw TRecordError(reason);
  }
  try {
    sqlite3_busy_timeout(Db, kBusyTimeoutMs);
    // The log lets readers and one writer go on side by side; with FULL a
    // record that was added survives a power cut.
    Execute("PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;");
    if (access == TAccess::Append) Execute(kSchema);
  } catch (...) {
    sqlite3_close(Db);
    throw;
  }
}

TRecordBook::~TRecordBook() { sqlite3_close(Db); }

void TRecordBook::Execute(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(Db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string reason = message != nullptr ? message : Reason(Db);
    sqlite3_free(message);
    throw TRecordError(reason);
  }
}

int64_t TRecordBook::Add(const TRunRecord& record) {
  const TStatement statement = Prepare(
      Db,
      "INSERT INTO runs (started, host, link, target, image, image_sha256, board, variant,"
      " version, program_version, ended, device_id, blocks, bytes, seconds, outcome, section,"
      " block) VALUES (?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18,"
      " NULLIF(?1, ''), ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
  BindCompletion(statement.get(), record);
  int index = 9;
  for (const std::string* text :
       {&record.Started, &record.Host, &record.Link, &record.Target, &record.Image,
        &record.ImageSha256, &record.Board, &record.Variant, &record.Version,
        &record.ProgramVersion}) {
    BindText(statement.get(), index++, *text);
  }
  Finish(Db, statement.get());
  return sqlite3_last_insert_rowid(Db);
}

void TRecordBook::Complete(const TRunRecord& record) {
  const TStatement statement =
      Prepare(Db, std::string("UPDATE runs SET ") + kCompletion + " WHERE id = ?9");
  BindCompletion(statement.get(), record);
  sqlite3_bind_int64(statement.get(), 9, record.Id);
  Finish(Db, statement.get());
  if (sqlite3_changes(Db) != 1) throw TRecordError("no record " + std::to_string(record.Id));
}

std::vector<TRunRecord> TRecordBook::List(const TRecordFilter& filter) {
  const TStatement statement = Prepare(
      Db, std::string("SELECT ") + kColumns +
              " FROM runs WHERE (?1 = '' OR device_id = ?1) AND (?2 = '' OR started >= ?2)"
              " AND (?3 = '' OR outcome = ?3) ORDER BY started, id");
  BindText(statement.get(), 1, filter.DeviceId);
  BindText(statement.get(), 2, filter.Since);
  BindText(statement.get(), 3, filter.Outcome);
  std::vector<TRunRecord> records;
  int step;
  while ((step = sqlite3_step(statement.get())) == SQLITE_ROW)
    records.push_back(ReadRow(statement.get()));
  if (step != SQLITE_DONE) throw TRecordError(Reason(Db));
  return records;
}

std::string UtcText(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto seconds = floor<std::chrono::seconds>(when);
  const auto day = floor<days>(seconds);
  const year_month_day date(day);
  const hh_mm_ss<std::chrono::seconds> time(seconds - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                int(time.minutes().count()), int(time.seconds().count()));
  return text;
}

std::optional<std::string> ParseUtcText(const std::string& text) {
  // Digits where the pattern has '9', the other characters as they stand.
  auto matches = [&text](const char* pattern) {
    if (text.size() != std::char_traits<char>::length(pattern)) return false;
    for (size_t i = 0; i < text.size(); ++i) {
      const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
      if (pattern[i] == '9' ? !digit : text[i] != pattern[i]) return false;
    }
    return true;
  };
  const bool dateOnly = matches("9999-99-99");
  if (!dateOnly && !matches("9999-99-99T99:99:99Z")) return std::nullopt;
  auto number = [&text](size_t at, size_t length) { return std::stoi(text.substr(at, length)); };
  using namespace std::chrono;
  const year_month_day date{year(number(0, 4)), month(unsigned(number(5, 2))),
                            day(unsigned(number(8, 2)))};
  if (!date.ok()) return std::nullopt;
  if (dateOnly) return text + "T00:00:00Z";
  if (number(11, 2) > 23 || number(14, 2) > 59 || number(17, 2) > 59) return std::nullopt;
  return text;
}

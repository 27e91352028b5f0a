#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "records/RecordBook.h"
#include "records/RunRecorder.h"
#include "tests/support/TempDir.h"

namespace {

using TAccess = TRecordBook::TAccess;

TRunRecord Started(const std::string& when, const std::string& device) {
  TRunRecord record;
  record.Started = when;
  record.Host = "line-3";
  record.Link = "serial";
  record.Target = "/dev/ttyUSB0";
  record.DeviceId = device;
  record.Image = "/images/kufx.vqf";
  record.ImageSha256 = std::string(64, 'a');
  record.Board = "KUFX";
  record.Variant = "01";
  record.Version = "106";
  record.Outcome = kInterruptedWord;
  record.ProgramVersion = "3.9";
  return record;
}

TEST(RecordBook, ARunStaysInterruptedUntilItsEndIsWritten) {
  TTempDir dir;
  TRecordBook book(dir.File("runs.sqlite"), TAccess::Append);
  TRunRecord record = Started("2026-12-09T07:00:00Z", "");
  record.Id = book.Add(record);

  // What a reader sees of a run whose process died: no end, no place.
  std::vector<TRunRecord> listed = TRecordBook(dir.File("runs.sqlite"), TAccess::Read).List({});
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].Outcome, "interrupted");
  EXPECT_EQ(listed[0].Ended, "");
  EXPECT_FALSE(listed[0].Section.has_value());
  EXPECT_EQ(listed[0].ImageSha256, record.ImageSha256);

  record.Ended = "2026-12-09T07:00:09Z";
  record.DeviceId = "VEQKUFX01105";
  record.Blocks = 17;
  record.Bytes = 3392;
  record.Seconds = 8.5;
  record.Outcome = "device-error";
  record.Section = 1;
  record.Block = 4;
  book.Complete(record);
  listed = book.List({});
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].Ended, record.Ended);
  EXPECT_EQ(listed[0].DeviceId, "VEQKUFX01105");
  EXPECT_EQ(listed[0].Blocks, 17u);
  EXPECT_EQ(listed[0].Bytes, 3392u);
  EXPECT_DOUBLE_EQ(listed[0].Seconds, 8.5);
  EXPECT_EQ(listed[0].Outcome, "device-error");
  EXPECT_EQ(listed[0].Section, 1);
  EXPECT_EQ(listed[0].Block, 4);
}

TEST(RecordBook, FiltersByDeviceStartAndOutcome) {
  TTempDir dir;
  TRecordBook book(dir.File("runs.sqlite"), TAccess::Append);
  const struct {
    const char* When;
    const char* Device;
    const char* Outcome;
  } runs[] = {{"2026-12-01T10:00:00Z", "VEQKUFX01105", "written"},
              {"2026-12-05T10:00:00Z", "VEQKUFX01105", "timeout"},
              {"2026-12-07T23:59:59Z", "VEQOXR_01105", "written"},
              {"2026-12-08T00:00:00Z", "VEQKUFX01105", "written"}};
  for (const auto& run : runs) {
    TRunRecord record = Started(run.When, run.Device);
    record.Outcome = run.Outcome;
    book.Add(record);
  }
  const struct {
    TRecordFilter Filter;
    std::vector<std::string> Started;
  } cases[] = {
      {{}, {"2026-12-01T10:00:00Z", "2026-12-05T10:00:00Z", "2026-12-07T23:59:59Z",
            "2026-12-08T00:00:00Z"}},
      {{"VEQOXR_01105", "", ""}, {"2026-12-07T23:59:59Z"}},
      {{"", "2026-12-08T00:00:00Z", ""}, {"2026-12-08T00:00:00Z"}},
      {{"VEQKUFX01105", "", "written"}, {"2026-12-01T10:00:00Z", "2026-12-08T00:00:00Z"}},
      {{"", "2026-12-02T00:00:00Z", "timeout"}, {"2026-12-05T10:00:00Z"}},
      {{"VEQABCD01105", "", ""}, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> started;
    for (const TRunRecord& record : book.List(c.Filter))
      started.push_back(record.Started);
    EXPECT_EQ(started, c.Started) << c.Filter.DeviceId << " " << c.Filter.Since << " "
                                  << c.Filter.Outcome;
  }
}

// Writers with a connection each, as separate processes have: every record
// arrives, none twice.
TEST(RecordBook, ConcurrentWritersLoseNothing) {
  TTempDir dir;
  const std::string path = dir.File("runs.sqlite");
  TRecordBook(path, TAccess::Append);  // the table exists before the race
  constexpr int kWriters = 4, kRuns = 40;
  std::vector<std::thread> writers;
  std::vector<std::string> failures(kWriters);
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      try {
        TRecordBook book(path, TAccess::Append);
        for (int i = 0; i < kRuns; ++i) {
          TRunRecord record = Started("2026-12-09T07:00:00Z", "VEQKUFX0110" + std::to_string(w));
          record.Id = book.Add(record);
          record.Outcome = "written";
          record.Blocks = uint64_t(i);
          book.Complete(record);
        }
      } catch (const TRecordError& error) {
        failures[w] = error.what();
      }
    });
  }
  for (std::thread& writer : writers)
    writer.join();
  for (const std::string& failure : failures)
    EXPECT_EQ(failure, "");
  const std::vector<TRunRecord> records = TRecordBook(path, TAccess::Read).List({});
  EXPECT_EQ(records.size(), size_t(kWriters * kRuns));
  std::set<std::pair<std::string, uint64_t>> seen;
  for (const TRunRecord& record : records) {
    EXPECT_EQ(record.Outcome, "written");
    seen.insert({record.DeviceId, record.Blocks});
  }
  EXPECT_EQ(seen.size(), size_t(kWriters * kRuns));
}

TEST(RecordBook, AFileThatCannotBeOpenedIsAnErrorWithItsReason) {
  TTempDir dir;
  EXPECT_THROW(TRecordBook(dir.File("none/runs.sqlite"), TAccess::Append), TRecordError);
  // Reading never makes a file.
  EXPECT_THROW(TRecordBook(dir.File("runs.sqlite"), TAccess::Read).List({}), TRecordError);
  EXPECT_THROW(TRecordBook(dir.Write("text.sqlite", "not a database, only words"),
                           TAccess::Append),
               TRecordError);
}

TEST(RecordBook, UtcTextsAndDates) {
  using namespace std::chrono;
  EXPECT_EQ(UtcText(sys_days{2026y / December / 9} + 7h + 5min + 3s + 999ms),
            "2026-12-09T07:05:03Z");
  const struct {
    const char* Text;
    const char* Parsed;  // nullptr: refused
  } cases[] = {
      {"2026-12-09", "2026-12-09T00:00:00Z"},
      {"2026-12-09T23:59:59Z", "2026-12-09T23:59:59Z"},
      {"2024-02-29", "2024-02-29T00:00:00Z"},
      {"2026-02-29", nullptr},
      {"2026-13-01", nullptr},
      {"2026-12-09T24:00:00Z", nullptr},
      {"2026-12-09 07:00:00", nullptr},
      {"2026-1-09", nullptr},
      {"", nullptr},
      {"yesterday", nullptr},
  };
  for (const auto& c : cases) {
    const std::optional<std::string> parsed = ParseUtcText(c.Text);
    if (c.Parsed == nullptr) {
      EXPECT_FALSE(parsed) << c.Text;
    } else {
      EXPECT_EQ(parsed.value_or("(refused)"), c.Parsed) << c.Text;
    }
  }
}

// A records file that cannot be opened costs one log line, however many
// runs follow, and never an exception.
TEST(RunRecorder, AnUnusableFileIsToldOnceAndTheRunsGoOn) {
  TTempDir dir;
  std::vector<std::string> log;
  TRunRecorder recorder(dir.File("none/runs.sqlite"), [&](const std::string& line) {
    log.push_back(line);
  });
  for (int run = 0; run < 3; ++run) {
    recorder.Started("serial", "/dev/ttyUSB0", dir.File("image.vqf"), "");
    EXPECT_FALSE(recorder.RunOpen());
    recorder.Ended("written", {}, {}, 1.0, "VEQKUFX01105");
  }
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("Записи о запусках не ведутся: " + dir.File("none/runs.sqlite"), 0), 0u)
      << log[0];
}

}  // namespace

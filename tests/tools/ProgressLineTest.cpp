#include <gtest/gtest.h>

#include <sstream>

#include "engine/FirmwareImage.h"
#include "engine/ImageScan.h"
#include "tests/support/TempDir.h"
#include "tools/ProgressLine.h"

namespace {

TImageScan TwoSectionScan(TTempDir& dir) {
  // Section 0: 3 blocks of 100 bytes; section 1: 2 blocks of 50.
  const std::string image = MakeSection("VEQKUFX01105", 100, std::string(300, 'a'), 1) +
                            MakeSection("VEQKUFX01105", 50, std::string(100, 'b'), 1) +
                            MakeSection("VEQENDF00000", 0, "", 1);
  return ScanImage(dir.Write("image.vqf", image));
}

TEST(ProgressLine, BytesSentFollowTheSessionCounters) {
  TTempDir dir;
  const TImageScan scan = TwoSectionScan(dir);
  ASSERT_EQ(scan.DataBytes, 400u);
  EXPECT_EQ(BytesSentBefore(scan, 0, 0), 0u);    // header of section 0 next
  EXPECT_EQ(BytesSentBefore(scan, 0, 1), 0u);    // header sent
  EXPECT_EQ(BytesSentBefore(scan, 0, 3), 200u);  // blocks 1 and 2 sent
  EXPECT_EQ(BytesSentBefore(scan, 1, 0), 300u);  // section 0 complete
  EXPECT_EQ(BytesSentBefore(scan, 1, 2), 350u);  // one block of 50
  EXPECT_EQ(BytesSentBefore(scan, 2, 0), 400u);  // end marker next
  EXPECT_EQ(BytesSentBefore(scan, 3, 0), 400u);
}

TEST(ProgressLine, BarShowsPercentRateAndTimeLeft) {
  EXPECT_EQ(ProgressBar(250, 1000, 2.0, 8), "[##......]   25%  125 B/s  0:06 left");
  EXPECT_EQ(ProgressBar(1000, 1000, 4.0, 4), "[####]  100%  250 B/s  0:00 left");
  // Nothing measurable yet.
  EXPECT_EQ(ProgressBar(0, 1000, 5.0, 4), "[....]    0%  -- B/s  --:-- left");
  EXPECT_EQ(ProgressBar(10, 1000, 0.01, 4), "[....]    1%  -- B/s  --:-- left");
  EXPECT_EQ(ProgressBar(0, 0, 1.0, 2), "[##]  100%  -- B/s  --:-- left");
}

TEST(ProgressLine, RatesAndDurationsReadNaturally) {
  EXPECT_EQ(RateText(999), "999 B/s");
  EXPECT_EQ(RateText(12.4 * 1024), "12.4 KiB/s");
  EXPECT_EQ(RateText(3.25 * 1024 * 1024), "3.2 MiB/s");
  EXPECT_EQ(DurationText(0.4), "0:00");
  EXPECT_EQ(DurationText(75), "1:15");
  EXPECT_EQ(DurationText(3600 + 62), "1:01:02");
  EXPECT_EQ(DurationText(-3), "0:00");
}

TEST(ProgressLine, WidthCountsCharactersNotBytes) {
  const std::string status = " Запись...";
  EXPECT_EQ(DisplayWidth(status), 10u);
  EXPECT_EQ(CutToWidth(status, 4), " Зап");
  EXPECT_EQ(CutToWidth(status, 40), status);
  EXPECT_EQ(CutToWidth("abc", 0), "");
}

TEST(ProgressLine, LiveLineRedrawsInPlaceStepsAsideAndIsKept) {
  std::ostringstream terminal;
  TLiveLine line(terminal, 8);
  line.Set("abcdefghijk");
  EXPECT_EQ(terminal.str(), "\rabcdefg\033[K") << "cut one short of the width";
  line.Set("abcdefghijk");
  EXPECT_EQ(terminal.str(), "\rabcdefg\033[K") << "the same text is not drawn again";
  terminal.str("");
  line.Hide();
  line.Hide();
  EXPECT_EQ(terminal.str(), "\r\033[K");
  terminal.str("");
  line.Show();
  line.Show();
  EXPECT_EQ(terminal.str(), "\rabcdefg\033[K");
  terminal.str("");
  line.Keep();
  line.Set("xyz");
  line.Show();
  EXPECT_EQ(terminal.str(), "\n") << "a kept line stays and nothing is drawn after it";
}

TEST(ProgressLine, ProgressShowsTheStatusAloneUntilWritingStarts) {
  TTempDir dir;
  std::ostringstream terminal;
  TLiveLine line(terminal, 200);
  TFlashProgress progress(line, TwoSectionScan(dir));
  progress.SetStatus(" Выключите и включите устройство.");
  EXPECT_EQ(terminal.str(), "\r Выключите и включите устройство.\033[K");

  const auto start = TFlashProgress::Clock::now();
  progress.StartWriting(start);
  progress.Update(1, 0, start + std::chrono::seconds(3), true);
  progress.SetStatus(" Запись...");
  const std::string shown = terminal.str().substr(terminal.str().rfind('\r'));
  EXPECT_NE(shown.find(" Запись...  ["), std::string::npos) << shown;
  EXPECT_NE(shown.find("]   75%  100 B/s  0:01 left"), std::string::npos) << shown;
}

TEST(ProgressLine, UpdatesAreThrottledUnlessForced) {
  TTempDir dir;
  std::ostringstream terminal;
  TLiveLine line(terminal, 200);
  TFlashProgress progress(line, TwoSectionScan(dir));
  const auto start = TFlashProgress::Clock::now();
  progress.StartWriting(start);
  progress.SetStatus(" Запись...");
  const size_t drawn = terminal.str().size();
  progress.Update(0, 2, start + std::chrono::milliseconds(50));
  EXPECT_EQ(terminal.str().size(), drawn);
  progress.Update(0, 3, start + std::chrono::milliseconds(60), true);
  EXPECT_GT(terminal.str().size(), drawn);
  EXPECT_NE(terminal.str().find("50%"), std::string::npos);
}

}  // namespace

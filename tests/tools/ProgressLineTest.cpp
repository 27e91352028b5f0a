#include <gtest/gtest.h>

#include <sstream>

#include "tools/ProgressLine.h"

namespace {

TEST(ProgressLine, BarShowsPercentRateAndTimeLeft) {
  EXPECT_EQ(ProgressBar(250, 1000, 2.0, 8), "[##......]   25%  125 Б/с  осталось 0:06");
  EXPECT_EQ(ProgressBar(1000, 1000, 4.0, 4), "[####]  100%  250 Б/с  осталось 0:00");
  // Nothing measurable yet.
  EXPECT_EQ(ProgressBar(0, 1000, 5.0, 4), "[....]    0%  -- Б/с  осталось --:--");
  EXPECT_EQ(ProgressBar(10, 1000, 0.01, 4), "[....]    1%  -- Б/с  осталось --:--");
  EXPECT_EQ(ProgressBar(0, 0, 1.0, 2), "[##]  100%  -- Б/с  осталось --:--");
}

TEST(ProgressLine, RatesAndDurationsReadNaturally) {
  EXPECT_EQ(RateText(999), "999 Б/с");
  EXPECT_EQ(RateText(12.4 * 1024), "12.4 КиБ/с");
  EXPECT_EQ(RateText(3.25 * 1024 * 1024), "3.2 МиБ/с");
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

// 300 of 400 bytes written, 100 of them a second.
TProgress ThreeQuartersDone() {
  TProgress progress;
  progress.Done = {3, 300};
  progress.Total = {4, 400};
  return progress;
}

TEST(ProgressLine, ProgressShowsTheStatusThenTheWaitThenTheBar) {
  std::ostringstream terminal;
  TLiveLine line(terminal, 200);
  TFlashProgress progress(line);
  progress.SetStatus(" Выключите и включите устройство.");
  EXPECT_EQ(terminal.str(), "\r Выключите и включите устройство.\033[K");

  const auto start = TFlashProgress::Clock::now();
  progress.StartWaiting(start, 120000);
  progress.Update({}, start + std::chrono::seconds(12), true);
  EXPECT_TRUE(terminal.str().ends_with(
      "\r Выключите и включите устройство.  ожидание 0:12 из 2:00\033[K"))
      << terminal.str();

  progress.StartWriting(start);
  progress.Update(ThreeQuartersDone(), start + std::chrono::seconds(3), true);
  progress.SetStatus(" Запись...");
  const std::string shown = terminal.str().substr(terminal.str().rfind('\r'));
  EXPECT_NE(shown.find(" Запись...  ["), std::string::npos) << shown;
  EXPECT_NE(shown.find("]   75%  100 Б/с  осталось 0:01"), std::string::npos) << shown;
}

TEST(ProgressLine, UpdatesAreThrottledUnlessForced) {
  std::ostringstream terminal;
  TLiveLine line(terminal, 200);
  TFlashProgress progress(line);
  const auto start = TFlashProgress::Clock::now();
  progress.StartWriting(start);
  progress.SetStatus(" Запись...");
  const size_t drawn = terminal.str().size();
  progress.Update(ThreeQuartersDone(), start + std::chrono::milliseconds(50));
  EXPECT_EQ(terminal.str().size(), drawn);
  progress.Update(ThreeQuartersDone(), start + std::chrono::milliseconds(60), true);
  EXPECT_GT(terminal.str().size(), drawn);
  EXPECT_NE(terminal.str().find("75%"), std::string::npos);
}

}  // namespace

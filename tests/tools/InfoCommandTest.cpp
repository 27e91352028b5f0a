#include <gtest/gtest.h>

#include "engine/FirmwareImage.h"
#include "engine/ImageScan.h"
#include "tests/support/TempDir.h"
#include "tests/tools/CommandRun.h"
#include "tools/InfoCommand.h"

namespace {

TCommandRun Info(const std::vector<std::string>& args) {
  return RunCommand(RunInfoCommand, args);
}

std::string Data(size_t size, char seed) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i)
    data[i] = static_cast<char>(seed + i * 13);
  return data;
}

std::string EndMarker() {
  return MakeSection("VEQENDF00000", 0, "", 0);
}

class InfoCommand : public ::testing::Test {
 protected:
  std::string Image(const std::string& bytes) { return dir.Write("image.vqf", bytes); }
  TTempDir dir;
};

TEST_F(InfoCommand, PrintsTheSummaryOnTwoLines) {
  const auto run = Info({Image(MakeSection("VEQKUFX01105", 512, Data(120 * 512, 1), 1))});
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, "Файл для платы: KUFX исполнение: 01  Версия ПО:105\nБлоков:120x512 CRC OK\n");
}

TEST_F(InfoCommand, FailedCheckExitsOne) {
  std::string image = MakeSection("VEQKUFX01105", 8, Data(16, 1), 1);
  image[20] ^= 1;
  const auto run = Info({Image(image)});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Out, "Контрольная сумма не совпадает.\n");
  EXPECT_EQ(Info({dir.File("none.vqf")}).Out, "Нет доступа к файлу.\n");
}

TEST_F(InfoCommand, UsageErrorsExitTwoOnTwoLines) {
  const struct {
    std::vector<std::string> Args;
    std::string Error;
  } cases[] = {
      {{}, "не задан образ"},
      {{"--bogus", "x.vqf"}, "неизвестный параметр «--bogus»"},
      {{"a.vqf", "b.vqf"}, "нужен ровно один образ"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Error);
    const auto run = Info(c.Args);
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Err, "veq info: " + c.Error + "\nСправка: veq info --help\n");
  }
  const auto help = Info({"x.vqf", "--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_EQ(help.Out, kInfoCommand.Usage);
}

TEST_F(InfoCommand, AllSeesAWrongChecksumInSectionOneThatTheCheckDoesNot) {
  std::string second = MakeSection("VEQOXR_02007", 64, Data(200, 5), 2);
  const std::string first = MakeSection("VEQOXR_02007", 64, Data(300, 2), 2);
  const std::string path = Image(first + second + EndMarker());
  EXPECT_EQ(Info({path}).Status, 0);
  auto run = Info({"--all", path});
  EXPECT_EQ(run.Status, 0);
  EXPECT_NE(run.Out.find("раздел 0  VEQOXR_02007  5x64  OK\n"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("раздел 1  VEQOXR_02007  4x64  OK\n"), std::string::npos);
  EXPECT_NE(run.Out.find("раздел 2  VEQENDF00000  0x0  КОНЕЧНЫЙ МАРКЕР\n"), std::string::npos);
  EXPECT_NE(run.Out.find("итог: OK (разделов: 3, блоков: 9, байт данных: 576)"),
            std::string::npos);

  second[19] ^= 0x40;
  Image(first + second + EndMarker());
  EXPECT_EQ(Info({path}).Status, 0);
  run = Info({"--all", path});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("раздел 1  VEQOXR_02007  4x64  КОНТРОЛЬНАЯ СУММА НЕ СОВПАДАЕТ\n"), std::string::npos);
  EXPECT_NE(run.Out.find("итог: ОШИБКА"), std::string::npos);
}

TEST_F(InfoCommand, AllReportsTruncationOversizeAndMissingEndMarker) {
  const std::string first = MakeSection("VEQKUFX01105", 16, Data(32, 1), 1);
  const std::string second = MakeSection("VEQKUFX01105", 16, Data(48, 3), 1);

  auto run = Info({"--all", Image(first + second.substr(0, 21 + 20))});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("раздел 1  VEQKUFX01105  3x16  ДАННЫЕ ОБРЕЗАНЫ (20 из 48 байт)"),
            std::string::npos)
      << run.Out;

  run = Info({"--all", Image(first + second.substr(0, 10))});
  EXPECT_NE(run.Out.find("ЗАГОЛОВОК ОБРЕЗАН (10 из 21 байта)"), std::string::npos) << run.Out;

  run = Info({"--all", Image(first + second)});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("раздел 2  НЕТ КОНЕЧНОГО МАРКЕРА"), std::string::npos) << run.Out;

  SectionHeader big;
  big.FileId = "VEQKUFX01105";
  big.BlockCount = 1;
  big.BlockSize = 4096;
  run = Info({"--all", Image(first + EncodeSectionHeader(big) + std::string(4096, 'x'))});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("раздел 1  VEQKUFX01105  1x4096  СЛИШКОМ БОЛЬШОЙ БЛОК"), std::string::npos);
}

TEST_F(InfoCommand, AllFlagsZeroCountsBeforeTheEndMarker) {
  SectionHeader empty;
  empty.FileId = "VEQKUFX01105";
  empty.BlockSize = 16;
  const auto run = Info({"--all", Image(MakeSection("VEQKUFX01105", 16, Data(32, 1), 1) +
                                        EncodeSectionHeader(empty) + EndMarker())});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("раздел 1  VEQKUFX01105  0x16  НОЛЬ БЛОКОВ"), std::string::npos)
      << run.Out;
}

}  // namespace

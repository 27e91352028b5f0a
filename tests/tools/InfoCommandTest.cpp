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

TEST_F(InfoCommand, UsageErrorsExitTwo) {
  EXPECT_EQ(Info({}).Status, 2);
  EXPECT_EQ(Info({"--bogus", "x.vqf"}).Status, 2);
  EXPECT_EQ(Info({"a.vqf", "b.vqf"}).Status, 2);
  const auto help = Info({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_NE(help.Out.find("usage: veq info"), std::string::npos);
}

TEST_F(InfoCommand, AllSeesAWrongChecksumInSectionOneThatTheCheckDoesNot) {
  std::string second = MakeSection("VEQOXR_02007", 64, Data(200, 5), 2);
  const std::string first = MakeSection("VEQOXR_02007", 64, Data(300, 2), 2);
  const std::string path = Image(first + second + EndMarker());
  EXPECT_EQ(Info({path}).Status, 0);
  auto run = Info({"--all", path});
  EXPECT_EQ(run.Status, 0);
  EXPECT_NE(run.Out.find("section 0  VEQOXR_02007  5x64  OK\n"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("section 1  VEQOXR_02007  4x64  OK\n"), std::string::npos);
  EXPECT_NE(run.Out.find("section 2  VEQENDF00000  0x0  END MARKER\n"), std::string::npos);
  EXPECT_NE(run.Out.find("verdict: OK (3 sections, 9 blocks, 576 bytes of data)"),
            std::string::npos);

  second[19] ^= 0x40;
  Image(first + second + EndMarker());
  EXPECT_EQ(Info({path}).Status, 0);
  run = Info({"--all", path});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("section 1  VEQOXR_02007  4x64  MISMATCH\n"), std::string::npos);
  EXPECT_NE(run.Out.find("verdict: FAILED"), std::string::npos);
}

TEST_F(InfoCommand, AllReportsTruncationOversizeAndMissingEndMarker) {
  const std::string first = MakeSection("VEQKUFX01105", 16, Data(32, 1), 1);
  const std::string second = MakeSection("VEQKUFX01105", 16, Data(48, 3), 1);

  auto run = Info({"--all", Image(first + second.substr(0, 21 + 20))});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("section 1  VEQKUFX01105  3x16  TRUNCATED DATA (20 of 48 bytes)"),
            std::string::npos)
      << run.Out;

  run = Info({"--all", Image(first + second.substr(0, 10))});
  EXPECT_NE(run.Out.find("TRUNCATED HEADER (10 of 21 bytes)"), std::string::npos) << run.Out;

  run = Info({"--all", Image(first + second)});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("section 2  NO END MARKER"), std::string::npos) << run.Out;

  SectionHeader big;
  big.FileId = "VEQKUFX01105";
  big.BlockCount = 1;
  big.BlockSize = 4096;
  run = Info({"--all", Image(first + EncodeSectionHeader(big) + std::string(4096, 'x'))});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("section 1  VEQKUFX01105  1x4096  BLOCK TOO LARGE"), std::string::npos);
}

TEST_F(InfoCommand, AllFlagsZeroCountsBeforeTheEndMarker) {
  SectionHeader empty;
  empty.FileId = "VEQKUFX01105";
  empty.BlockSize = 16;
  const auto run = Info({"--all", Image(MakeSection("VEQKUFX01105", 16, Data(32, 1), 1) +
                                        EncodeSectionHeader(empty) + EndMarker())});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("section 1  VEQKUFX01105  0x16  ZERO COUNT"), std::string::npos)
      << run.Out;
}

TEST_F(InfoCommand, ScanCountsBlocksSentForTheSessionCounters) {
  const std::string path = Image(MakeSection("VEQKUFX01105", 16, Data(48, 1), 1) +
                                 MakeSection("VEQKUFX01105", 16, Data(32, 2), 1) + EndMarker());
  const TImageScan scan = ScanImage(path);
  ASSERT_TRUE(scan.Ok());
  EXPECT_EQ(scan.DataBlocks, 5u);
  EXPECT_EQ(scan.BlocksSentBefore(0, 0), 0u);  // header of section 0 next
  EXPECT_EQ(scan.BlocksSentBefore(0, 1), 0u);  // header sent, block 1 next
  EXPECT_EQ(scan.BlocksSentBefore(0, 3), 2u);
  EXPECT_EQ(scan.BlocksSentBefore(1, 0), 3u);  // section 0 complete
  EXPECT_EQ(scan.BlocksSentBefore(1, 3), 5u);
  EXPECT_EQ(scan.BlocksSentBefore(2, 0), 5u);  // end marker next
  EXPECT_EQ(scan.BlocksSentBefore(3, 0), 5u);
}

}  // namespace

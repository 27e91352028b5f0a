#include <gtest/gtest.h>

#include <fstream>

#include "engine/FirmwareImage.h"
#include "engine/ImageScan.h"
#include "tests/support/TempDir.h"
#include "tests/tools/ChildProcess.h"
#include "tests/tools/CommandRun.h"
#include "tools/InfoCommand.h"
#include "tools/PackCommand.h"

namespace {

TCommandRun Pack(const std::vector<std::string>& args) {
  return RunCommand(RunPackCommand, args);
}

std::string Bytes(size_t size, int seed) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i)
    data[i] = static_cast<char>(seed + i * 31);
  return data;
}

class PackCommand : public ::testing::Test {
 protected:
  std::vector<std::string> Args(const std::string& board, std::vector<std::string> sections,
                                const std::string& blockSize = "") {
    std::vector<std::string> args = {"-o",        Out,  "--board",   board,
                                     "--variant", "02", "--version", "117"};
    if (!blockSize.empty()) args.insert(args.end(), {"--block-size", blockSize});
    args.insert(args.end(), sections.begin(), sections.end());
    return args;
  }

  TTempDir Dir;
  const std::string Out = Dir.File("out.vqf");
};

TEST_F(PackCommand, WritesSectionsPaddedToBlocksAndTheEndMarker) {
  const std::string first = Bytes(100, 1), second = Bytes(64, 9);
  const auto run =
      Pack(Args("KUFX", {Dir.Write("a.bin", first), Dir.Write("b.bin", second)}, "32"));
  ASSERT_EQ(run.Status, 0) << run.Err;
  const std::string expected = MakeSection("VEQKUFX02117", 32, first, 1) +
                               MakeSection("VEQKUFX02117", 32, second, 1) +
                               MakeSection("VEQENDF02117", 0, "", 1);
  EXPECT_EQ(ReadFile(Out), expected);
  // 100 bytes become four blocks of 32, the last one ending in 28 zero bytes.
  const SectionHeader header = ParseSectionHeader(ReadFile(Out));
  EXPECT_EQ(header.BlockCount, 4);
  EXPECT_EQ(ReadFile(Out).substr(21 + 100, 28), std::string(28, '\0'));
  EXPECT_EQ(run.Out, Out + ": разделов: 2 и конечный маркер, байт: " +
                         std::to_string(expected.size()) + "\n");
}

TEST_F(PackCommand, ChecksumTakesTheBoardsFormAndInfoAcceptsTheImage) {
  for (const std::string board : {"OXR_", "KUFX", "AB12"}) {
    SCOPED_TRACE(board);
    ASSERT_EQ(
        Pack(Args(board, {Dir.Write("a.bin", Bytes(3000, 4)), Dir.Write("b.bin", "x")})).Status, 0);
    const TImageScan scan = ScanImage(Out);
    EXPECT_TRUE(scan.Ok());
    EXPECT_EQ(scan.BoardKind, BoardKindOf(board));
    EXPECT_EQ(scan.Sections[0].Header.BlockSize, kDefaultPackBlockSize);
    const TCommandRun info = RunCommand(RunInfoCommand, {"--all", Out});
    EXPECT_EQ(info.Status, 0) << info.Out;
  }
  // CRC-16 for kind 2: the whole checksum word is set, not just its low byte.
  ASSERT_EQ(Pack(Args("OXR_", {Dir.Write("a.bin", Bytes(512, 4))})).Status, 0);
  EXPECT_EQ(ParseSectionHeader(ReadFile(Out)).Checksum, SectionChecksum(2, Bytes(512, 4)));
}

TEST_F(PackCommand, RefusesBadFieldsWithUsageStatusOnTwoLines) {
  const std::string section = Dir.Write("a.bin", "data");
  auto with = [&](size_t index, const std::string& value) {
    auto args = Args("KUFX", {section});
    args[index] = value;
    return args;
  };
  const struct {
    std::vector<std::string> Args;
    std::string Error;
  } cases[] = {
      {Args("KUF", {section}), "--board «KUF»: нужно четыре печатных знака"},
      {Args("KUFXX", {section}), "--board «KUFXX»: нужно четыре печатных знака"},
      {Args("KU X", {section}), "--board «KU X»: нужно четыре печатных знака"},
      {Args("KUFX", {section}, "0"), "--block-size «0»: нужно число от 1 до 2048"},
      {Args("KUFX", {section}, "2049"), "--block-size «2049»: нужно число от 1 до 2048"},
      {Args("KUFX", {}), "не задан ни один файл раздела"},
      {Args("ENDF", {section}),
       "--board «ENDF»: с таким кодом каждый раздел стал бы конечным маркером"},
      {{"--board", "KUFX", section}, "не задан обязательный параметр -o"},
      {with(1, ""), "-o: нужно имя файла образа"},
      {with(5, "1"), "--variant «1»: нужно два печатных знака"},
      {with(7, "1a7"), "--version «1a7»: нужно три десятичные цифры"},
      {{"--bogus"}, "неизвестный параметр «--bogus»"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Error);
    const auto run = Pack(c.Args);
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Err, "veq pack: " + c.Error + "\nСправка: veq pack --help\n");
  }
  EXPECT_FALSE(std::ifstream(Out).good()) << "nothing was written";
  const auto help = Pack({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_EQ(help.Out, kPackCommand.Usage);
}

TEST_F(PackCommand, UnreadableOrUnfitSectionsLeaveAnEarlierImageAlone) {
  Dir.Write("out.vqf", "earlier image");
  EXPECT_EQ(Pack(Args("KUFX", {Dir.File("none.bin")})).Status, 1);
  EXPECT_EQ(Pack(Args("KUFX", {Dir.Write("empty.bin", "")})).Status, 1);
  const auto tooMany = Pack(Args("KUFX", {Dir.Write("big.bin", Bytes(65536 + 1, 0))}, "1"));
  EXPECT_EQ(tooMany.Status, 1);
  EXPECT_NE(tooMany.Err.find("не больше 65535"), std::string::npos) << tooMany.Err;
  EXPECT_EQ(ReadFile(Out), "earlier image");

  std::vector<std::string> args = Args("KUFX", {Dir.Write("a.bin", "x")});
  args[1] = Dir.File("no-such-dir/out.vqf");
  EXPECT_EQ(Pack(args).Status, 1);
}

}  // namespace

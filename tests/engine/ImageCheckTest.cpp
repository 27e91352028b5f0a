#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/FirmwareImage.h"
#include "engine/ImageScan.h"
#include "engine/Session.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/SessionProbe.h"
#include "tests/support/TempDir.h"

namespace {

using namespace std::string_literals;

std::string Blocks(size_t count, size_t size, uint8_t seed) {
  std::string data(count * size, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(seed + i * 7);
  return data;
}

class ImageCheck : public ::testing::Test {
 protected:
  std::string Check(const std::string& bytes) {
    return session.CheckFirmwareFile(dir.Write("image.vqf", bytes));
  }

  TTempDir dir;
  TRecordingWindow window;
  TSession session{window};
};

TEST_F(ImageCheck, SummaryOfAGoodKufxImage) {
  const std::string image = MakeSection("VEQKUFX01105", 512, Blocks(120, 512, 3), 1);
  EXPECT_EQ(Check(image), "");
  EXPECT_EQ(window.LabFW,
            "Файл для платы: KUFX исполнение: 01  Версия ПО:105\rБлоков:120x512 CRC OK");
  EXPECT_EQ(Probe(session).BoardKind, kBoardKindKufx);
}

TEST_F(ImageCheck, BoardKindFromExactBoardCode) {
  Check(MakeSection("VEQOXR_02007", 64, Blocks(3, 64, 1), 2));
  EXPECT_EQ(Probe(session).BoardKind, kBoardKindOxr);
  EXPECT_EQ(window.LabFW, "Файл для платы: OXR_ исполнение: 02  Версия ПО:007\rБлоков:3x64 CRC OK");
  // Lower case is another board: kind 0, XOR form.
  EXPECT_EQ(Check(MakeSection("VEQkufx01105", 64, Blocks(3, 64, 1), 0)), "");
  EXPECT_EQ(Probe(session).BoardKind, kBoardKindOther);
}

TEST_F(ImageCheck, ZeroCountsCompareTheStartValue) {
  SectionHeader header;
  header.FileId = "VEQOXR_02007";
  header.BlockSize = 512;
  header.Checksum = 0xFFFF;
  EXPECT_EQ(Check(EncodeSectionHeader(header)), "");
  EXPECT_EQ(window.LabFW,
            "Файл для платы: OXR_ исполнение: 02  Версия ПО:007\rБлоков:0x512 CRC OK");
  header.Checksum = 0;
  EXPECT_EQ(Check(EncodeSectionHeader(header)), "Контрольная сумма не совпадает.");

  header.FileId = "VEQABCD01001";  // XOR form: start value 0 in byte 20
  EXPECT_EQ(Check(EncodeSectionHeader(header)), "");
  header.Checksum = 0xFF00;  // byte 19 is not compared
  EXPECT_EQ(Check(EncodeSectionHeader(header)), "");
}

TEST_F(ImageCheck, XorFormIgnoresByte19) {
  std::string image = MakeSection("VEQKUFX01105", 16, Blocks(4, 16, 9), 1);
  image[19] = '\x5A';
  EXPECT_EQ(Check(image), "");
  image[20] ^= 1;
  EXPECT_EQ(Check(image), "Контрольная сумма не совпадает.");
  EXPECT_EQ(window.LabFW, "Контрольная сумма не совпадает.");
  EXPECT_EQ(Probe(session).BoardKind, kBoardKindKufx);  // set before the checksum failed
}

TEST_F(ImageCheck, CrcFormComparesWholeWord) {
  std::string image = MakeSection("VEQOXR_02007", 16, Blocks(4, 16, 9), 2);
  image[19] ^= 1;
  EXPECT_EQ(Check(image), "Контрольная сумма не совпадает.");
}

TEST_F(ImageCheck, PrefixIsNotExamined) {
  EXPECT_EQ(Check(MakeSection("XYZKUFX01105", 8, Blocks(2, 8, 0), 1)), "");
}

TEST_F(ImageCheck, OnlySectionZeroIsVerified) {
  std::string second = MakeSection("VEQKUFX01105", 8, Blocks(2, 8, 5), 1);
  second[20] ^= 0x55;
  EXPECT_EQ(Check(MakeSection("VEQKUFX01105", 8, Blocks(2, 8, 0), 1) + second), "");
}

TEST_F(ImageCheck, MissingFileKeepsBoardKind) {
  Check(MakeSection("VEQOXR_02007", 8, Blocks(1, 8, 0), 2));
  EXPECT_EQ(session.CheckFirmwareFile(dir.File("absent.vqf")), "Нет доступа к файлу.");
  EXPECT_EQ(window.LabFW, "Нет доступа к файлу.");
  EXPECT_EQ(session.CheckFirmwareFile(""), "Нет доступа к файлу.");
  EXPECT_EQ(session.CheckFirmwareFile(dir.Path()), "Нет доступа к файлу.");
  EXPECT_EQ(Probe(session).BoardKind, kBoardKindOxr);
}

// The image is only read: a read-only file is checked like any other, one
// that cannot be read at all keeps the designed text.
TEST_F(ImageCheck, ReadOnlyFileIsAcceptedAndUnreadableOneIsNot) {
  const std::string path = dir.Write("ro.vqf", MakeSection("VEQKUFX01105", 8, "", 1));
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(session.CheckFirmwareFile(path), "");
  if (geteuid() == 0) GTEST_SKIP() << "root reads files without read permission";
  ASSERT_EQ(chmod(path.c_str(), 0000), 0);
  EXPECT_EQ(session.CheckFirmwareFile(path), "Нет доступа к файлу.");
}

TEST_F(ImageCheck, HeaderCutShortIsReportedAsDamaged) {
  Probe(session).BoardKind = kBoardKindOxr;
  const std::string image = MakeSection("VEQKUFX01105", 8, Blocks(2, 8, 0), 1);
  EXPECT_EQ(Check(image.substr(0, 5)),
            "Файл повреждён: заголовок раздела неполный (5 из 21 байт).");
  EXPECT_EQ(Probe(session).BoardKind, kBoardKindOxr);  // board code not read yet
  EXPECT_EQ(Check(image.substr(0, 9)),
            "Файл повреждён: заголовок раздела неполный (9 из 21 байт).");
  EXPECT_EQ(Probe(session).BoardKind, kBoardKindKufx);
  EXPECT_EQ(window.LabFW, "Файл повреждён: заголовок раздела неполный (9 из 21 байт).");
  EXPECT_EQ(Check(""), "Файл повреждён: заголовок раздела неполный (0 из 21 байт).");
}

TEST_F(ImageCheck, DataCutShortIsReportedAsDamaged) {
  const std::string image = MakeSection("VEQOXR_02007", 8, Blocks(2, 8, 0), 2);
  EXPECT_EQ(Check(image.substr(0, 21 + 11)),
            "Файл повреждён: данные раздела 0 неполные (11 из 16 байт).");
  EXPECT_EQ(Probe(session).BoardKind, kBoardKindOxr);
}

TEST_F(ImageCheck, BlockLargerThanTransmitBufferIsRefused) {
  SectionHeader header;
  header.FileId = "VEQKUFX01105";
  header.BlockCount = 1;
  header.BlockSize = 2049;
  EXPECT_EQ(Check(EncodeSectionHeader(header) + std::string(2049, '\0')),
            "Размер блока 2049 байт больше допустимого (2048). Файл не может быть записан.");
  EXPECT_EQ(Probe(session).BoardKind, kBoardKindKufx);
  EXPECT_EQ(Check(MakeSection("VEQKUFX01105", 2048, Blocks(1, 2048, 0), 1)), "");
}

TEST_F(ImageCheck, TraceLineOnlyInDebugMode) {
  Check(MakeSection("VEQKUFX01105", 8, "", 1));
  EXPECT_TRUE(window.Log.empty());
  session.EnableDebugMode();
  Check(MakeSection("VEQKUFX01105", 8, "", 1));
  EXPECT_EQ(window.Log, std::vector<std::string>{" FW check file:"});
}

TEST(FirmwareImage, MakeSectionPadsToWholeBlocks) {
  const std::string section = MakeSection("VEQKUFX01105", 4, "abcdef", 1);
  ASSERT_EQ(section.size(), 21u + 8u);
  const SectionHeader header = ParseSectionHeader(section);
  EXPECT_EQ(header.BlockCount, 2);
  EXPECT_EQ(header.BlockSize, 4);
  EXPECT_EQ(section.substr(21), "abcdef\0\0"s);
  EXPECT_EQ(header.Checksum, SectionChecksum(1, "abcdef"));
  EXPECT_THROW(MakeSection("VEQKUFX01105", 1, std::string(70000, 'x'), 1), std::invalid_argument);
}

}  // namespace

namespace {

// What a writing run has behind it at each position of the session's
// counters: the progress view counts from this.
TEST(ImageScan, BeforeCountsTheBlocksAndBytesOfEarlierPositions) {
  TTempDir dir;
  // Section 0: 3 blocks of 100 bytes; section 1: 2 blocks of 50.
  const TImageScan scan = ScanImage(
      dir.Write("image.vqf", MakeSection("VEQKUFX01105", 100, std::string(300, 'a'), 1) +
                                 MakeSection("VEQKUFX01105", 50, std::string(100, 'b'), 1) +
                                 MakeSection("VEQENDF00000", 0, "", 1)));
  ASSERT_TRUE(scan.Ok());
  const struct {
    int32_t Section, Block;
    TBlocksAndBytes Before;
  } cases[] = {
      {0, 0, {0, 0}},   {0, 1, {0, 0}},   {0, 3, {2, 200}}, {1, 0, {3, 300}},
      {1, 2, {4, 350}}, {1, 9, {5, 400}}, {2, 0, {5, 400}}, {3, 0, {5, 400}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.Section) + "/" + std::to_string(c.Block));
    EXPECT_EQ(scan.Before(c.Section, c.Block), c.Before);
  }
}

}  // namespace

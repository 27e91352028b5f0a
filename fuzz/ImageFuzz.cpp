// The image check a chosen file goes through (TSession::CheckFirmwareFile)
// and the walk over every section (ScanImage), on arbitrary file contents.
// Both are compared with a reading of the layout written here from the
// format's description alone: section by section, a 21-byte header with
// big-endian counts, the data, the checksum in the board's form. Images
// made by MakeSection must pass the walk whole.

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/FirmwareImage.h"
#include "engine/ImageScan.h"
#include "engine/Session.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/MemoryFile.h"
#include "tests/support/RecordingWindow.h"

namespace {

uint16_t Be16(std::string_view bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) << 8 |
                               static_cast<uint8_t>(bytes[at + 1]));
}

uint8_t KindOf(std::string_view boardCode) {
  if (boardCode == "KUFX") return 1;
  if (boardCode == "OXR_") return 2;
  return 0;
}

// CRC-16/MODBUS bit by bit, independent of the engine's table.
uint16_t Crc16(std::string_view data) {
  uint16_t crc = 0xFFFF;
  for (const char c : data) {
    crc ^= static_cast<uint8_t>(c);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
  }
  return crc;
}

bool ChecksumOk(uint8_t kind, std::string_view data, uint16_t stored) {
  if (kind == 2) return Crc16(data) == stored;
  uint8_t x = 0;
  for (const char c : data)
    x ^= static_cast<uint8_t>(c);
  return x == (stored & 0xFF);
}

// The header bytes as the reader delivers them: zero past the end.
std::string HeaderAt(std::string_view image, size_t at) {
  std::string header(image.substr(std::min(at, image.size()), kSectionHeaderSize));
  header.resize(kSectionHeaderSize, '\0');
  return header;
}

void CheckHeaderFields(const SectionHeader& h, std::string_view bytes) {
  FUZZ_CHECK(h.FileId == bytes.substr(0, 12));
  FUZZ_CHECK(h.BoardCode == bytes.substr(3, 4));
  FUZZ_CHECK(h.Variant == bytes.substr(7, 2));
  FUZZ_CHECK(h.SwVersion == bytes.substr(9, 3));
  FUZZ_CHECK(h.BlockCount == Be16(bytes, 13));
  FUZZ_CHECK(h.BlockSize == Be16(bytes, 15));
  FUZZ_CHECK(h.Checksum == Be16(bytes, 19));
  FUZZ_CHECK(h.IsEndMarker() == (bytes.substr(0, 12).find("VEQENDF") != std::string_view::npos));
  // Encoding keeps every field and zeroes the reserved bytes 12, 17, 18.
  std::string expected(bytes.substr(0, kSectionHeaderSize));
  expected[12] = expected[17] = expected[18] = '\0';
  FUZZ_CHECK(EncodeSectionHeader(h) == expected);
}

// The check of a chosen image: only section 0 counts.
void CheckTheCheck(std::string_view image, const std::string& path) {
  TRecordingWindow window;
  TSession session(window);
  const std::string error = session.CheckFirmwareFile(path);
  if (!error.empty()) FUZZ_CHECK(window.LabFW == error);
  FUZZ_CHECK(!window.LabFW.empty());
  FUZZ_CHECK(fuzz::IsValidUtf8(window.LabFW));

  const std::string header = HeaderAt(image, 0);
  const size_t present = std::min(image.size(), kSectionHeaderSize);
  const uint16_t count = Be16(header, 13), size = Be16(header, 15);
  std::string expected;
  if (present < kSectionHeaderSize) {
    expected = "Файл повреждён: заголовок раздела неполный (" + std::to_string(present) +
               " из 21 байт).";
  } else if (size > 2048) {
    expected = "Размер блока " + std::to_string(size) +
               " байт больше допустимого (2048). Файл не может быть записан.";
  } else {
    const uint64_t length = uint64_t{count} * size;
    const uint64_t have = image.size() - kSectionHeaderSize;
    if (have < length) {
      expected = "Файл повреждён: данные раздела 0 неполные (" + std::to_string(have) + " из " +
                 std::to_string(length) + " байт).";
    } else if (!ChecksumOk(KindOf(header.substr(3, 4)),
                           image.substr(kSectionHeaderSize, length), Be16(header, 19))) {
      expected = "Контрольная сумма не совпадает.";
    }
  }
  FUZZ_CHECK(error == expected);
  if (error.empty()) {
    FUZZ_CHECK(window.LabFW.rfind("Файл для платы: ", 0) == 0);
    const std::string blocks = "Блоков:" + std::to_string(count) + "x" + std::to_string(size);
    FUZZ_CHECK(window.LabFW.find(blocks + " CRC OK") != std::string::npos);
  }
}

void CheckTheScan(std::string_view image, const std::string& path) {
  const TImageScan scan = ScanImage(path);
  FUZZ_CHECK(scan.Opened);
  FUZZ_CHECK(!scan.Sections.empty());

  size_t at = 0;
  uint8_t kind = 0;
  uint64_t blocks = 0, bytes = 0;
  size_t index = 0;
  for (;; ++index) {
    FUZZ_CHECK(index < scan.Sections.size());
    const TSectionReport& report = scan.Sections[index];
    FUZZ_CHECK(report.Index == int(index));
    const size_t left = image.size() - at;
    if (left < kSectionHeaderSize) {
      FUZZ_CHECK(report.Status == (left == 0 ? TSectionStatus::MissingEndMarker
                                             : TSectionStatus::TruncatedHeader));
      FUZZ_CHECK(report.BytesPresent == left);
      if (left > 0) CheckHeaderFields(report.Header, HeaderAt(image, at));
      break;
    }
    const std::string header(image.substr(at, kSectionHeaderSize));
    at += kSectionHeaderSize;
    CheckHeaderFields(report.Header, header);
    if (index == 0) kind = KindOf(header.substr(3, 4));
    const uint16_t count = Be16(header, 13), size = Be16(header, 15);
    const bool zero = count == 0 || size == 0;
    TSectionStatus expected;
    if (header.substr(0, 12).find("VEQENDF") != std::string::npos) {
      expected = zero ? TSectionStatus::EndMarker : TSectionStatus::BadEndMarker;
    } else if (zero) {
      expected = TSectionStatus::ZeroCount;
    } else if (size > 2048) {
      expected = TSectionStatus::BlockTooLarge;
    } else {
      const size_t length = size_t{count} * size;
      if (image.size() - at < length) {
        expected = TSectionStatus::TruncatedData;
        FUZZ_CHECK(report.BytesPresent == image.size() - at);
      } else {
        expected = ChecksumOk(kind, image.substr(at, length), Be16(header, 19))
                       ? TSectionStatus::Ok
                       : TSectionStatus::Mismatch;
        FUZZ_CHECK(report.BytesPresent == length);
        at += length;
        blocks += count;
        bytes += length;
      }
    }
    FUZZ_CHECK(report.Status == expected);
    if (expected != TSectionStatus::Ok && expected != TSectionStatus::Mismatch) break;
  }
  FUZZ_CHECK(scan.Sections.size() == index + 1);
  FUZZ_CHECK(scan.BoardKind == kind);
  FUZZ_CHECK(scan.DataBlocks == blocks);
  FUZZ_CHECK(scan.DataBytes == bytes);

  bool allOk = true;
  for (const TSectionReport& r : scan.Sections)
    allOk = allOk && (r.Status == TSectionStatus::Ok || r.Status == TSectionStatus::EndMarker);
  FUZZ_CHECK(scan.Ok() == (allOk && scan.Sections.back().Status == TSectionStatus::EndMarker));

  // Before(): never decreasing along the image, never past the totals,
  // nothing before the first block, everything before the end marker.
  TBlocksAndBytes last{};
  const int32_t sections = int32_t(scan.Sections.size());
  for (int32_t s = 0; s <= sections; ++s) {
    const int32_t count = s < sections ? scan.Sections[size_t(s)].Header.BlockCount : 0;
    std::vector<int32_t> points = {-1, 0, 1, 2, count, count + 1, count + 2};
    std::sort(points.begin(), points.end());
    for (const int32_t b : points) {
      const TBlocksAndBytes before = scan.Before(s, b);
      FUZZ_CHECK(before.Blocks <= scan.DataBlocks && before.Bytes <= scan.DataBytes);
      if (b >= 0) {
        FUZZ_CHECK(before.Blocks >= last.Blocks && before.Bytes >= last.Bytes);
        last = before;
      }
      if (s == 0 && b <= 1) FUZZ_CHECK(before == TBlocksAndBytes{});
    }
  }
  if (scan.Ok()) {
    const TBlocksAndBytes all{scan.DataBlocks, scan.DataBytes};
    FUZZ_CHECK(scan.Before(sections - 1, 0) == all);
  }
}

// What pack would write from these bytes passes the walk whole.
void CheckMadeImage(std::string_view data, uint8_t choice, fuzz::TMemoryFile& file) {
  static const char* const kIds[] = {"VEQKUFX01106", "VEQOXR_01106", "VEQABCD01106"};
  const size_t which = choice % 3;
  const uint8_t kind = KindOf(std::string_view(kIds[which]).substr(3, 4));
  const uint16_t blockSize = static_cast<uint16_t>(1 + (choice * 37u) % 2048);
  if (data.empty()) {
    FUZZ_CHECK(MakeSection(kIds[which], 0, data, kind).size() == kSectionHeaderSize);
    return;
  }
  bool refused = false;
  try {
    MakeSection(kIds[which], 0, data, kind);
  } catch (const std::invalid_argument&) {
    refused = true;
  }
  FUZZ_CHECK(refused);

  const uint64_t blocks = (data.size() + blockSize - 1) / blockSize;
  if (blocks > 0xFFFF) return;
  const std::string section = MakeSection(kIds[which], blockSize, data, kind);
  FUZZ_CHECK(section.size() == kSectionHeaderSize + blocks * blockSize);
  FUZZ_CHECK(section.substr(kSectionHeaderSize, data.size()) == data);
  FUZZ_CHECK(section.find_first_not_of('\0', kSectionHeaderSize + data.size()) == std::string::npos);
  file.Write(section + MakeSection("VEQENDF01106", 0, "", kind));
  const TImageScan scan = ScanImage(file.Path());
  FUZZ_CHECK(scan.Ok());
  FUZZ_CHECK(scan.Sections.size() == 2);
  FUZZ_CHECK(scan.BoardKind == kind);
  FUZZ_CHECK(scan.DataBlocks == blocks);
  FUZZ_CHECK(scan.DataBytes == blocks * blockSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::TMemoryFile image, made;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  image.Write(bytes);
  CheckTheCheck(bytes, image.Path());
  CheckTheScan(bytes, image.Path());
  CheckMadeImage(bytes, size > 0 ? data[0] : 0, made);
  return 0;
}

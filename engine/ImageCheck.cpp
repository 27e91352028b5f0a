#include <string>

#include "engine/DisplayText.h"
#include "engine/ImageReader.h"
#include "engine/ImageScan.h"
#include "engine/Session.h"

namespace {

const std::string kNoAccess = "Нет доступа к файлу.";
const std::string kChecksumMismatch = "Контрольная сумма не совпадает.";

std::string HeaderTooShortText(size_t present) {
  return "Файл повреждён: заголовок раздела неполный (" + std::to_string(present) + " из " +
         std::to_string(kSectionHeaderSize) + " байт).";
}

std::string DataTooShortText(uint64_t present, uint32_t expected) {
  return "Файл повреждён: данные раздела 0 неполные (" + std::to_string(present) + " из " +
         std::to_string(expected) + " байт).";
}

std::string BlockTooLargeText(int blockSize) {
  return "Размер блока " + std::to_string(blockSize) + " байт больше допустимого (" +
         std::to_string(kMaxBlockSize) + "). Файл не может быть записан.";
}

std::string SummaryText(const SectionHeader& header) {
  return "Файл для платы: " + BytesToDisplayText(header.BoardCode) +
         " исполнение: " + BytesToDisplayText(header.Variant) + " " +
         " Версия ПО:" + BytesToDisplayText(header.SwVersion) + "\r" +
         "Блоков:" + std::to_string(header.BlockCount) + "x" + std::to_string(header.BlockSize) +
         " CRC OK";
}

// The board code sits in bytes 3..6; BoardKind follows it once they are read.
constexpr size_t kBoardKindBytes = 9;

}  // namespace

std::string TSession::CheckFirmwareFile(const std::string& path) {
  DebugLog(" FW check file:");

  auto fail = [this](const std::string& text) {
    Window.SetLabFWCaption(text);
    return text;
  };

  TImageReader image;
  if (!image.Open(path)) return fail(kNoAccess);

  uint8_t headerBytes[kSectionHeaderSize];
  size_t present = 0;
  if (!image.Read(headerBytes, sizeof headerBytes, &present)) return fail(kNoAccess);
  const SectionHeader header =
      ParseSectionHeader({reinterpret_cast<const char*>(headerBytes), sizeof headerBytes});
  if (present >= kBoardKindBytes) BoardKind = BoardKindOf(header.BoardCode);
  if (present < kSectionHeaderSize) return fail(HeaderTooShortText(present));
  if (header.BlockSize > kMaxBlockSize) return fail(BlockTooLargeText(header.BlockSize));

  uint64_t dataPresent = 0;
  switch (VerifySectionData(image, header, BoardKind, dataPresent)) {
    case TSectionStatus::TruncatedData:
      return fail(DataTooShortText(dataPresent, header.DataLength()));
    case TSectionStatus::Mismatch:
      return fail(kChecksumMismatch);
    default:
      break;
  }

  Window.SetLabFWCaption(SummaryText(header));
  return {};
}

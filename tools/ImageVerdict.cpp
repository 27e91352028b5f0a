#include "tools/ImageVerdict.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

std::string SectionStatusText(const TSectionReport& section) {
  const SectionHeader& h = section.Header;
  switch (section.Status) {
    case TSectionStatus::Ok:
      return "OK";
    case TSectionStatus::Mismatch:
      return "КОНТРОЛЬНАЯ СУММА НЕ СОВПАДАЕТ";
    case TSectionStatus::EndMarker:
      return "КОНЕЧНЫЙ МАРКЕР";
    case TSectionStatus::BadEndMarker:
      return "КОНЕЧНЫЙ МАРКЕР С НЕНУЛЕВЫМИ СЧЁТЧИКАМИ (запись не завершилась бы чисто)";
    case TSectionStatus::ZeroCount:
      return "НОЛЬ БЛОКОВ БЕЗ КОНЕЧНОГО МАРКЕРА (запись остановилась бы здесь без успеха)";
    case TSectionStatus::BlockTooLarge:
      return "СЛИШКОМ БОЛЬШОЙ БЛОК (больше 2048 байт)";
    case TSectionStatus::TruncatedHeader:
      return "ЗАГОЛОВОК ОБРЕЗАН (" + std::to_string(section.BytesPresent) + " из 21 байта)";
    case TSectionStatus::TruncatedData:
      return "ДАННЫЕ ОБРЕЗАНЫ (" + std::to_string(section.BytesPresent) + " из " +
             std::to_string(h.DataLength()) + " байт)";
    case TSectionStatus::MissingEndMarker:
      return "НЕТ КОНЕЧНОГО МАРКЕРА (файл кончается здесь)";
  }
  return {};
}

// An image that a run would not write to its successful end is refused
// before anything is sent to the device.
std::string ImageProblem(const TImageScan& scan, const std::string& path) {
  std::error_code error;
  if (!scan.Opened && std::filesystem::exists(path, error) &&
      !std::filesystem::is_regular_file(path, error)) {
    return "«" + path + "» — не файл образа (каталог, канал или устройство)";
  }
  if (!scan.Opened) return "не удаётся открыть образ «" + path + "»";
  if (scan.Ok()) return {};
  const auto bad = std::find_if(scan.Sections.begin(), scan.Sections.end(), [](const auto& s) {
    return s.Status != TSectionStatus::Ok && s.Status != TSectionStatus::EndMarker;
  });
  std::string verdict = "образ «" + path + "» не будет записан до конца";
  if (bad == scan.Sections.end()) return verdict;
  return verdict + ": раздел " + std::to_string(bad->Index) + " — " + SectionStatusText(*bad) +
         " (подробно: veq info --all)";
}

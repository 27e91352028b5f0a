#include "tools/InfoCommand.h"

#include <ostream>
#include <sstream>

#include "engine/DisplayText.h"
#include "engine/ImageScan.h"
#include "engine/Session.h"
#include "tools/ConsoleWindow.h"
#include "tools/ImageVerdict.h"

const TCommandText kInfoCommand = {
    "info",
    "Использование: veq info [--all] ОБРАЗ\n"
    "  Показывает сводку об ОБРАЗЕ, как её показывает программатор (плата,\n"
    "  исполнение, версия ПО, блоки раздела 0 и проверка его контрольной суммы).\n"
    "  --all  ещё пройти все разделы до конечного маркера и проверить\n"
    "         контрольную сумму каждого так, как её считает плата.\n"
    "Код выхода: 0 образ исправен, 1 проверка не прошла, 2 ошибка в командной строке.\n",
    {{}, {"--all"}}};

namespace {

// Control bytes would garble a terminal line; show them as dots.
std::string PrintableId(const std::string& fileId) {
  std::string bytes = fileId;
  for (char& c : bytes) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '.';
  }
  return BytesToDisplayText(bytes);
}

void PrintSections(const TImageScan& scan, std::ostream& out) {
  for (const TSectionReport& section : scan.Sections) {
    out << "раздел " << section.Index;
    if (section.Status != TSectionStatus::MissingEndMarker) {
      out << "  " << PrintableId(section.Header.FileId) << "  " << section.Header.BlockCount << "x"
          << section.Header.BlockSize;
    }
    out << "  " << SectionStatusText(section) << '\n';
  }
  if (scan.Ok()) {
    out << "итог: OK (разделов: " << scan.Sections.size() << ", блоков: " << scan.DataBlocks
        << ", байт данных: " << scan.DataBytes << ")\n";
  } else {
    out << "итог: ОШИБКА\n";
  }
}

}  // namespace

int RunInfoCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (ShowHelpIfAsked(kInfoCommand, args, out)) return 0;
  const TParsedArgs parsed = ParseArgs(args, kInfoCommand.Options);
  std::string error = parsed.Error;
  if (error.empty() && parsed.Operands.size() != 1)
    error = parsed.Operands.empty() ? "не задан образ" : "нужен ровно один образ";
  if (!error.empty()) return UsageError(kInfoCommand, error, err);
  const std::string& path = parsed.Operands.front();
  const bool all = parsed.Has("--all");

  std::ostringstream silentLog;
  TConsoleWindow window(silentLog, err);
  TSession session(window);
  const std::string checkError = session.CheckFirmwareFile(path);
  out << CaptionForTerminal(window.LabFW) << '\n';
  if (!all) return checkError.empty() ? 0 : 1;

  const TImageScan scan = ScanImage(path);
  if (scan.Opened) PrintSections(scan, out);
  return checkError.empty() && scan.Ok() ? 0 : 1;
}

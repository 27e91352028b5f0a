#include "tools/InfoCommand.h"

#include <ostream>
#include <sstream>

#include "engine/DisplayText.h"
#include "engine/ImageScan.h"
#include "engine/Session.h"
#include "tools/CommandLine.h"
#include "tools/ConsoleWindow.h"

const char* const kInfoUsage =
    "usage: veq info [--all] IMAGE\n"
    "  Prints the image summary the programmer shows for IMAGE (board, variant,\n"
    "  software version, blocks of section 0 and its checksum verdict).\n"
    "  --all  also walks every section up to the end marker and verifies each\n"
    "         section's checksum in the board's form.\n"
    "Exit status: 0 sound image, 1 a check failed, 2 usage error.\n";

namespace {

// Control bytes would garble a terminal line; show them as dots.
std::string PrintableId(const std::string& fileId) {
  std::string bytes = fileId;
  for (char& c : bytes) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '.';
  }
  return BytesToDisplayText(bytes);
}

std::string StatusText(const TSectionReport& section) {
  const SectionHeader& h = section.Header;
  switch (section.Status) {
    case TSectionStatus::Ok:
      return "OK";
    case TSectionStatus::Mismatch:
      return "MISMATCH";
    case TSectionStatus::EndMarker:
      return "END MARKER";
    case TSectionStatus::BadEndMarker:
      return "END MARKER WITH NON-ZERO COUNTS (a run would not end cleanly)";
    case TSectionStatus::ZeroCount:
      return "ZERO COUNT WITHOUT END MARKER (a run would stop here without success)";
    case TSectionStatus::BlockTooLarge:
      return "BLOCK TOO LARGE (over 2048 bytes)";
    case TSectionStatus::TruncatedHeader:
      return "TRUNCATED HEADER (" + std::to_string(section.BytesPresent) + " of 21 bytes)";
    case TSectionStatus::TruncatedData:
      return "TRUNCATED DATA (" + std::to_string(section.BytesPresent) + " of " +
             std::to_string(h.DataLength()) + " bytes)";
    case TSectionStatus::MissingEndMarker:
      return "NO END MARKER (the file ends here)";
  }
  return {};
}

void PrintSections(const TImageScan& scan, std::ostream& out) {
  for (const TSectionReport& section : scan.Sections) {
    out << "section " << section.Index;
    if (section.Status != TSectionStatus::MissingEndMarker) {
      out << "  " << PrintableId(section.Header.FileId) << "  " << section.Header.BlockCount << "x"
          << section.Header.BlockSize;
    }
    out << "  " << StatusText(section) << '\n';
  }
  if (scan.Ok()) {
    out << "verdict: OK (" << scan.Sections.size() << " sections, " << scan.DataBlocks
        << " blocks, " << scan.DataBytes << " bytes of data)\n";
  } else {
    out << "verdict: FAILED\n";
  }
}

}  // namespace

int RunInfoCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const TParsedArgs parsed = ParseArgs(args, {{}, {"--all", "--help", "-h"}});
  if (parsed.Error.empty() && parsed.Has("--help")) {
    out << kInfoUsage;
    return 0;
  }
  std::string error = parsed.Error;
  if (error.empty() && parsed.Operands.size() != 1)
    error = parsed.Operands.empty() ? "no image given" : "give one image";
  if (!error.empty()) {
    err << "veq info: " << error << '\n' << kInfoUsage;
    return 2;
  }
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

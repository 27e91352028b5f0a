#include "tools/PackCommand.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>

#include "engine/FirmwareImage.h"
#include "tools/AtomicFile.h"
#include "tools/CommandLine.h"

const char* const kPackUsage =
    "usage: veq pack -o OUT --board CODE --variant VV --version NNN [--block-size N]\n"
    "                SECTION0.bin [SECTION1.bin ...]\n"
    "  Writes a .vqf image: one section per input file, in the order given\n"
    "  (section 0 is the MCU flash, section 1 the second flash), each a header\n"
    "  with FileId \"VEQ\"+CODE+VV+NNN and the checksum in the board's form\n"
    "  (CRC-16 for OXR_, 8-bit XOR otherwise), its data padded with zero bytes\n"
    "  to whole blocks, then the end-marker section \"VEQENDF\"+VV+NNN.\n"
    "  --board CODE     four printable characters (KUFX, OXR_, ...)\n"
    "  --variant VV     two printable characters\n"
    "  --version NNN    three decimal digits\n"
    "  --block-size N   data bytes per block, 1..2048 (default 512)\n"
    "Exit status: 0 written, 1 a file could not be read or written, 2 usage error.\n";

namespace {

struct TPackRequest {
  std::string Out;
  std::string FileId;
  std::string EndMarkerId;
  uint8_t BoardKind = kBoardKindOther;
  uint16_t BlockSize = kDefaultPackBlockSize;
  std::vector<std::string> Sections;
};

bool Printable(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

bool Digits(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Returns the request, or an error text in `error`.
std::optional<TPackRequest> ReadRequest(const TParsedArgs& args, std::string& error) {
  for (const char* required : {"-o", "--board", "--variant", "--version"}) {
    if (!args.Has(required)) {
      error = std::string("option ") + required + " is required";
      return std::nullopt;
    }
  }
  const std::string board = args.Value("--board");
  const std::string variant = args.Value("--variant");
  const std::string version = args.Value("--version");
  if (board.size() != 4 || !Printable(board)) {
    error = "--board takes four printable characters, not '" + board + "'";
  } else if (variant.size() != 2 || !Printable(variant)) {
    error = "--variant takes two printable characters, not '" + variant + "'";
  } else if (version.size() != 3 || !Digits(version)) {
    error = "--version takes three decimal digits, not '" + version + "'";
  } else if (args.Operands.empty()) {
    error = "no section file given";
  }
  if (!error.empty()) return std::nullopt;

  TPackRequest request;
  request.Out = args.Value("-o");
  request.FileId = "VEQ" + board + variant + version;
  // Variant and version ride along in the end marker too, so that every
  // header of the image names the same software.
  request.EndMarkerId = std::string(kEndMarker) + variant + version;
  if (request.FileId.find(kEndMarker) != std::string::npos) {
    error = "board code '" + board + "' would make every section an end marker";
    return std::nullopt;
  }
  request.BoardKind = BoardKindOf(board);
  if (args.Has("--block-size")) {
    const auto size = ParseNumber(args.Value("--block-size"), 1, kMaxBlockSize);
    if (!size) {
      error = "--block-size takes a number from 1 to " + std::to_string(kMaxBlockSize);
      return std::nullopt;
    }
    request.BlockSize = static_cast<uint16_t>(*size);
  }
  request.Sections = args.Operands;
  return request;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return std::nullopt;
  return bytes;
}

// The image in memory, or an error text in `error` (exit status 1).
std::optional<std::string> BuildImage(const TPackRequest& request, std::string& error) {
  std::string image;
  for (const std::string& path : request.Sections) {
    const auto data = ReadWholeFile(path);
    if (!data) {
      error = "cannot read section file '" + path + "'";
      return std::nullopt;
    }
    // A section without blocks would end a writing run early, silently.
    if (data->empty()) {
      error = "section file '" + path + "' is empty";
      return std::nullopt;
    }
    const size_t blocks = (data->size() + request.BlockSize - 1) / request.BlockSize;
    if (blocks > 0xFFFF) {
      error = "section file '" + path + "' needs " + std::to_string(blocks) +
              " blocks; at most 65535 fit (use a larger --block-size)";
      return std::nullopt;
    }
    image += MakeSection(request.FileId, request.BlockSize, *data, request.BoardKind);
  }
  image += MakeSection(request.EndMarkerId, 0, "", request.BoardKind);
  return image;
}

}  // namespace

int RunPackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const TParsedArgs parsed = ParseArgs(
      args, {{"-o", "--board", "--variant", "--version", "--block-size"}, {"--help", "-h"}});
  if (parsed.Error.empty() && parsed.Has("--help")) {
    out << kPackUsage;
    return 0;
  }
  std::string error = parsed.Error;
  const auto request = error.empty() ? ReadRequest(parsed, error) : std::nullopt;
  if (!request) {
    err << "veq pack: " << error << '\n' << kPackUsage;
    return 2;
  }
  const auto image = BuildImage(*request, error);
  if (image && !WriteFileAtomically(request->Out, *image))
    error = "cannot write '" + request->Out + "'";
  if (!image || !error.empty()) {
    err << "veq pack: " << error << '\n';
    return 1;
  }
  const size_t sections = request->Sections.size();
  out << request->Out << ": " << sections << (sections == 1 ? " section" : " sections")
      << " + end marker, " << image->size() << " bytes\n";
  return 0;
}

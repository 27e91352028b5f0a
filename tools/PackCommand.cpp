#include "tools/PackCommand.h"

#include <algorithm>
#include <optional>
#include <ostream>

#include "engine/FirmwareImage.h"
#include "platform/Files.h"

const TCommandText kPackCommand = {
    "pack",
    "Использование: veq pack -o ВЫХОД --board КОД --variant ИИ --version ННН\n"
    "                [--block-size N] РАЗДЕЛ0.bin [РАЗДЕЛ1.bin ...]\n"
    "  Записывает образ .vqf: по разделу на каждый входной файл в заданном порядке\n"
    "  (раздел 0 — флеш-память МК, раздел 1 — вторая флеш-память), у каждого\n"
    "  заголовок с FileId \"VEQ\"+КОД+ИИ+ННН и контрольной суммой в том виде, в каком\n"
    "  её считает плата (CRC-16 для OXR_, иначе 8-битный XOR), данные дополнены\n"
    "  нулевыми байтами до целых блоков; в конце раздел-маркер \"VEQENDF\"+ИИ+ННН.\n"
    "  -o ВЫХОД         файл образа (пишется целиком или не пишется вовсе)\n"
    "  --board КОД      четыре печатных знака (KUFX, OXR_, ...)\n"
    "  --variant ИИ     исполнение, два печатных знака\n"
    "  --version ННН    версия ПО, три десятичные цифры\n"
    "  --block-size N   байт данных в блоке, 1..2048 (по умолчанию 512)\n"
    "Код выхода: 0 записан, 1 файл не удалось прочитать или записать,\n"
    "2 ошибка в командной строке.\n",
    {{"-o", "--board", "--variant", "--version", "--block-size"}, {}}};

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
      error = std::string("не задан обязательный параметр ") + required;
      return std::nullopt;
    }
  }
  const std::string board = args.Value("--board");
  const std::string variant = args.Value("--variant");
  const std::string version = args.Value("--version");
  if (board.size() != 4 || !Printable(board)) {
    error = "--board «" + board + "»: нужно четыре печатных знака";
  } else if (variant.size() != 2 || !Printable(variant)) {
    error = "--variant «" + variant + "»: нужно два печатных знака";
  } else if (version.size() != 3 || !Digits(version)) {
    error = "--version «" + version + "»: нужно три десятичные цифры";
  } else if (args.Value("-o").empty()) {
    error = "-o: нужно имя файла образа";
  } else if (args.Operands.empty()) {
    error = "не задан ни один файл раздела";
  }
  if (!error.empty()) return std::nullopt;

  TPackRequest request;
  request.Out = args.Value("-o");
  request.FileId = "VEQ" + board + variant + version;
  // Variant and version ride along in the end marker too, so that every
  // header of the image names the same software.
  request.EndMarkerId = std::string(kEndMarker) + variant + version;
  if (request.FileId.find(kEndMarker) != std::string::npos) {
    error = "--board «" + board + "»: с таким кодом каждый раздел стал бы конечным маркером";
    return std::nullopt;
  }
  request.BoardKind = BoardKindOf(board);
  if (args.Has("--block-size")) {
    const std::string text = args.Value("--block-size");
    const auto size = ParseNumber(text, 1, kMaxBlockSize);
    if (!size) {
      error = "--block-size «" + text + "»: нужно число от 1 до " + std::to_string(kMaxBlockSize);
      return std::nullopt;
    }
    request.BlockSize = static_cast<uint16_t>(*size);
  }
  request.Sections = args.Operands;
  return request;
}

// The image in memory, or an error text in `error` (exit status 1).
std::optional<std::string> BuildImage(const TPackRequest& request, std::string& error) {
  std::string image;
  for (const std::string& path : request.Sections) {
    int readError = 0;
    const auto data = platform::ReadWholeFile(path, readError);
    if (!data) {
      error = "не удалось прочитать файл раздела «" + path + "»";
      return std::nullopt;
    }
    // A section without blocks would end a writing run early, silently.
    if (data->empty()) {
      error = "файл раздела «" + path + "» пуст";
      return std::nullopt;
    }
    const size_t blocks = (data->size() + request.BlockSize - 1) / request.BlockSize;
    if (blocks > 0xFFFF) {
      error = "файлу раздела «" + path + "» нужно " + std::to_string(blocks) +
              " блоков, а входит не больше 65535 (возьмите --block-size побольше)";
      return std::nullopt;
    }
    image += MakeSection(request.FileId, request.BlockSize, *data, request.BoardKind);
  }
  image += MakeSection(request.EndMarkerId, 0, "", request.BoardKind);
  return image;
}

}  // namespace

int RunPackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (ShowHelpIfAsked(kPackCommand, args, out)) return 0;
  const TParsedArgs parsed = ParseArgs(args, kPackCommand.Options);
  std::string error = parsed.Error;
  const auto request = error.empty() ? ReadRequest(parsed, error) : std::nullopt;
  if (!request) return UsageError(kPackCommand, error, err);
  const auto image = BuildImage(*request, error);
  if (image && platform::ReplaceFileAtomically(request->Out, *image) != 0)
    error = "не удалось записать «" + request->Out + "»";
  if (!image || !error.empty()) {
    err << "veq pack: " << error << '\n';
    return 1;
  }
  out << request->Out << ": разделов: " << request->Sections.size()
      << " и конечный маркер, байт: " << image->size() << '\n';
  return 0;
}

#include "tools/SimCommand.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ostream>

#include "engine/FirmwareImage.h"
#include "platform/Files.h"
#include "platform/SignalWatcher.h"
#include "serial/uRSbcom.h"
#include "tools/LineOptions.h"
#include "tools/SimRunner.h"

const TCommandText kSimCommand = {
    "sim",
    "Использование: veq sim (--pty | --port УСТРОЙСТВО | --udp IP:ПОРТ) [параметры]\n"
    "  Играет загрузчик платы VEQ. Первая строка вывода говорит, где он ждёт:\n"
    "  имя порта для «veq flash --port» или IP:ПОРТ для\n"
    "  «veq flash --udp IP --udp-port ПОРТ»; дальше по строке на каждую принятую\n"
    "  посылку (<<), отправленный ответ (>>) и смену состояния (--).\n"
    "  --pty                 создать псевдотерминал\n"
    "  --port УСТРОЙСТВО     последовательный порт; с ним --baud, --data-bits,\n"
    "                        --parity, --stop-bits, как у veq flash (9600 8 odd 1)\n"
    "  --udp IP:ПОРТ         ждать по этому адресу (IP или имя узла; порт 0: любой\n"
    "                        свободный)\n"
    "  --id ТЕКСТ            опознавательная строка платы, ровно 12 байт\n"
    "                        (по умолчанию VEQKUFX01105)\n"
    "  --out ФАЙЛ            при выходе записать разделы, принятые в последнем\n"
    "                        сеансе, образом .vqf\n"
    "  --wrong-at K          ответить WRONG на блок данных K сеанса (K от 1)\n"
    "  --err-at K            ответить ERR на блок данных K\n"
    "  --silent-at K         молчать начиная с блока данных K\n"
    "  --noise               окружать каждый ответ байтами, не образующими ответа\n"
    "  --noise-at K          окружить такими байтами только ответ на блок K\n"
    "  --split-at K          послать ответ на блок K двумя посылками с паузой 10 мс\n"
    "  --gone-at K           исчезнуть на блоке K: не ответить и закрыть свой конец\n"
    "                        линии (псевдотерминал или порт: обрыв линии; UDP:\n"
    "                        сокет закрыт) и выйти\n"
    "  --count-headers       K считает и заголовки разделов с маркером конца, по\n"
    "                        порядку прихода (заголовок раздела 0 — блок 1)\n"
    "  --delay-ms N          посылать каждый ответ на N мс позже\n"
    "  --line-rate БОД       отвечать, как плата на линии с этой скоростью (от 50\n"
    "                        до 4000000 бод): каждый ответ уходит через время, за\n"
    "                        которое запрос и сам ответ прошли бы по такой линии\n"
    "                        (11 бит на байт), считая от прихода последнего байта\n"
    "                        запроса\n"
    "  --boot-after-ms N     N мс после старта ничего не слышать\n"
    "  --once                выйти по окончании первого сеанса записи\n"
    "  --times               начинать каждую строку после первой временем от\n"
    "                        старта в секундах с микросекундами\n"
    "Код выхода: 0 остановлен (сигналом, --once или --gone-at), 1 --out не записан,\n"
    "2 ошибка в командной строке, 3 линию не удалось открыть.\n",
    {{"--port", "--udp", "--id", "--out", "--wrong-at", "--err-at", "--silent-at", "--noise-at",
      "--split-at", "--gone-at", "--delay-ms", "--line-rate", "--boot-after-ms", "--baud",
      "--data-bits", "--parity", "--stop-bits"},
     {"--pty", "--noise", "--once", "--count-headers", "--times"}}};

namespace {

constexpr int64_t kMaxMs = 24LL * 3600 * 1000;
// The rates a Linux serial line can be set to, from the slowest to the fastest.
constexpr int64_t kMinLineRate = 50;
constexpr int64_t kMaxLineRate = 4000000;
// Sections of up to 65535 blocks, and as many sections.
constexpr int64_t kMaxBlockNumber = 0xFFFF * 0xFFFFLL;

struct TSimOptions {
  bool Pty = false;
  std::string Port;
  std::string UdpIp;
  uint16_t UdpPort = 0;
  std::string Out;
  TDeviceModel::TSettings Model;
  line_driver::TLineSetting Line;
  bool Once = false;
  bool Times = false;
};

std::string ReadFault(const TParsedArgs& args, TDeviceModel::TSettings& model) {
  const std::pair<const char*, TDeviceModel::TFault> knobs[] = {
      {"--wrong-at", TDeviceModel::TFault::Wrong},
      {"--err-at", TDeviceModel::TFault::Err},
      {"--silent-at", TDeviceModel::TFault::Silent},
      {"--noise-at", TDeviceModel::TFault::Noise},
      {"--split-at", TDeviceModel::TFault::Split},
      {"--gone-at", TDeviceModel::TFault::Gone}};
  model.FaultCountsHeaders = args.Has("--count-headers");
  for (const auto& [option, fault] : knobs) {
    if (!args.Has(option)) continue;
    if (model.Fault != TDeviceModel::TFault::None) {
      return "можно только один из --wrong-at, --err-at, --silent-at, --noise-at, --split-at, "
             "--gone-at";
    }
    const std::string text = args.Value(option);
    const auto block = ParseNumber(text, 1, kMaxBlockNumber);
    if (!block) return std::string(option) + " «" + text + "»: нужен номер блока от 1";
    model.Fault = fault;
    model.FaultBlock = static_cast<int>(*block);
  }
  if (model.FaultCountsHeaders && model.Fault == TDeviceModel::TFault::None)
    return "--count-headers бывает только с номером блока сбоя (--wrong-at и другие)";
  return {};
}

std::string ReadMilliseconds(const TParsedArgs& args, const char* option, int64_t& value) {
  if (!args.Has(option)) return {};
  const std::string text = args.Value(option);
  const auto ms = ParseNumber(text, 0, kMaxMs);
  if (!ms) {
    return std::string(option) + " «" + text + "»: нужно число миллисекунд от 0 до " +
           std::to_string(kMaxMs);
  }
  value = *ms;
  return {};
}

std::string ReadLineRate(const TParsedArgs& args, int64_t& rate) {
  if (!args.Has("--line-rate")) return {};
  const std::string text = args.Value("--line-rate");
  const auto baud = ParseNumber(text, kMinLineRate, kMaxLineRate);
  if (!baud) {
    return "--line-rate «" + text + "»: нужна скорость в бодах от " + std::to_string(kMinLineRate) +
           " до " + std::to_string(kMaxLineRate);
  }
  rate = *baud;
  return {};
}

// The serial line texts, read as the port component reads them. The
// driver's enumerations list their members in the component's order.
line_driver::TLineSetting LineFromTexts(const TLineTexts& texts) {
  line_driver::TLineSetting line;
  line.BitsPerSecond = BaudRateBitsPerSecond(StrToBaudRate(texts.Baud));
  line.DataBits = 5 + StrToByteSize(texts.DataBits);
  line.Parity = static_cast<line_driver::TParityBits>(StrToParity(texts.Parity));
  line.StopBits = static_cast<line_driver::TStopBitCount>(StrToStopBits(texts.StopBits));
  return line;
}

// IP:PORT, the host also as a name; the port 0 means any free one.
std::string ReadUdpAddress(const std::string& text, TSimOptions& options) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return "--udp «" + text + "»: нужно IP:ПОРТ";
  if (const std::string error = CheckPortText("--udp", text.substr(colon + 1), 0, options.UdpPort);
      !error.empty())
    return error;
  return ResolveHostText("--udp", text.substr(0, colon), options.UdpIp);
}

std::string ReadLink(const TParsedArgs& args, TSimOptions& options) {
  const int links = int(args.Has("--pty")) + int(args.Has("--port")) + int(args.Has("--udp"));
  if (links != 1) return "нужен ровно один из --pty, --port УСТРОЙСТВО, --udp IP:ПОРТ";
  options.Pty = args.Has("--pty");
  if (!args.Has("--port")) {
    for (const char* lineOption : {"--baud", "--data-bits", "--parity", "--stop-bits"}) {
      if (args.Has(lineOption)) return std::string(lineOption) + " бывает только с --port";
    }
    return args.Has("--udp") ? ReadUdpAddress(args.Value("--udp"), options) : "";
  }
  options.Port = args.Value("--port");
  if (options.Port.empty()) return "--port: нужно имя устройства";
  TLineTexts line;
  const std::string error = ReadLineOptions(args, line);
  options.Line = LineFromTexts(line);
  return error;
}

std::string ReadOptions(const TParsedArgs& args, TSimOptions& options) {
  if (!args.Operands.empty()) return "лишний аргумент «" + args.Operands.front() + "»";
  options.Out = args.Value("--out");
  options.Once = args.Has("--once");
  options.Times = args.Has("--times");
  options.Model.Identity = args.Value("--id", options.Model.Identity);
  if (options.Model.Identity.size() != kFileIdSize)
    return "--id «" + options.Model.Identity + "»: нужно ровно 12 байт";
  if (args.Has("--noise")) options.Model.Noise = TDeviceModel::kNoiseBytes;
  for (const std::string& error :
       {ReadLink(args, options), ReadFault(args, options.Model),
        ReadMilliseconds(args, "--delay-ms", options.Model.AnswerDelayMs),
        ReadLineRate(args, options.Model.LineRate),
        ReadMilliseconds(args, "--boot-after-ms", options.Model.BootDelayMs)}) {
    if (!error.empty()) return error;
  }
  return {};
}

// "12.345678": when a line happened, for a reader who times the board's
// exchanges from its own side.
std::string SecondsSince(std::chrono::steady_clock::time_point started) {
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - started)
                          .count();
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(micros / 1000000),
                static_cast<long long>(micros % 1000000));
  return text;
}

std::unique_ptr<ISimLink> OpenLink(const TSimOptions& options) {
  if (options.Pty) return OpenPtyLink();
  if (!options.Port.empty()) return OpenSerialLink(options.Port, options.Line);
  return OpenUdpLink(options.UdpIp, options.UdpPort);
}

}  // namespace

int RunSimCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (ShowHelpIfAsked(kSimCommand, args, out)) return 0;
  const TParsedArgs parsed = ParseArgs(args, kSimCommand.Options);
  TSimOptions options;
  const std::string error = parsed.Error.empty() ? ReadOptions(parsed, options) : parsed.Error;
  if (!error.empty()) return UsageError(kSimCommand, error, err);

  std::unique_ptr<TSimRunner> sim;
  try {
    sim = std::make_unique<TSimRunner>(OpenLink(options), options.Model);
  } catch (const std::exception& failure) {
    err << "veq sim: линию не удалось открыть: " << failure.what() << '\n';
    return 3;
  }
  sim->Once = options.Once;
  sim->OnLog = [&out, times = options.Times, started = std::chrono::steady_clock::now()](
                   const std::string& line) {
    if (times) out << SecondsSince(started) << ' ';
    out << line << '\n' << std::flush;
  };
  out << sim->Where() << '\n' << std::flush;

  TSignalWatcher watcher({SIGINT, SIGTERM}, [&sim](int) { sim->RequestStop(); });
  sim->Run();

  if (!options.Out.empty() && platform::ReplaceFileAtomically(options.Out, sim->AcceptedImage()) != 0) {
    err << "veq sim: не удалось записать «" << options.Out << "»\n";
    return 1;
  }
  return 0;
}

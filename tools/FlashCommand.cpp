#include "tools/FlashCommand.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ostream>
#include <set>

#include "engine/ImageScan.h"
#include "platform/ErrorReport.h"
#include "platform/MainThread.h"
#include "platform/SignalWatcher.h"
#include "records/RunRecorder.h"
#include "tools/CommandLine.h"
#include "tools/GangRun.h"
#include "tools/ImageVerdict.h"

const TCommandText kFlashCommand = {
    "flash",
    "Использование: veq flash ОБРАЗ (--port ПОРТ | --udp IP[:ПОРТ])... [параметры]\n"
    "  Подключается, ждёт, пока устройство (выключите и включите его) назовётся и\n"
    "  будет готово, записывает ОБРАЗ и отключается. Журнал идёт в стандартный\n"
    "  вывод; сообщения, вопрос, на терминале строка состояния и ход записи, а в\n"
    "  конце причина неудачи — в стандартный поток ошибок.\n"
    "  --port ПОРТ             последовательный порт, как в окне (ttyUSB0, /dev/pts/3)\n"
    "  --baud N                скорость, бит/с (по умолчанию 9600)\n"
    "  --data-bits N           биты данных: 5, 6, 7, 8 (по умолчанию 8)\n"
    "  --parity ВИД            none, odd, even, mark, space (по умолчанию odd)\n"
    "  --stop-bits N           1, 1.5, 2 (по умолчанию 1)\n"
    "  --udp IP                адрес устройства (IPv4 или имя узла)\n"
    "  --udp-port N            UDP-порт устройства, 1..65535 (по умолчанию 1001)\n"
    "  --local-port N          свой UDP-порт, 0..65535 (по умолчанию 12345; 0 — любой\n"
    "                          свободный); оба нужны и плате вида 2 при --port\n"
    "  --yes                   отвечать OK на вопрос перед записью образа, который не\n"
    "                          новее ПО платы (без него вопрос задаётся на терминале,\n"
    "                          а без терминала ответ — отмена)\n"
    "  --connect-timeout СЕК   сколько ждать готовности устройства (по умолчанию 120;\n"
    "                          0 — без предела)\n"
    "  --json                  стандартный вывод — события JSON, по объекту в строке:\n"
    "                          log, status, progress, message и последним result\n"
    "  --debug                 писать в журнал отладочную трассу\n"
    "  --records ФАЙЛ          куда добавить запись о запуске (по умолчанию ключ File\n"
    "                          раздела [Records] настроек окна, а без него\n"
    "                          $XDG_DATA_HOME/veq/records.sqlite); см. veq records\n"
    "Несколько --port и --udp пишут образ во все эти платы сразу, каждую своим\n"
    "  процессом veq flash со своим свободным UDP-портом (--local-port не задаётся):\n"
    "  на терминале по строке на плату, в конце таблица исходов в стандартный\n"
    "  вывод; с --json — события всех плат с ключом target. Код выхода 0, если\n"
    "  записаны все; иначе код первой по важности неудачи: сигнал, 2, 3, 1, 6, 7,\n"
    "  4, 5. Образ для плат вида 2 всегда пишется по адресу 192.168.0.254 и\n"
    "  пишется только в одну плату.\n"
    "Код выхода:\n"
    "  0  записано\n"
    "  1  устройство ответило WRONG или ERR\n"
    "  2  ошибка в командной строке или негодный образ (до открытия связи)\n"
    "  3  связь не открылась или оборвалась\n"
    "  4  образ не для этой платы\n"
    "  5  вопрос перед записью: отмена (или нет терминала и нет --yes)\n"
    "  6  устройство замолчало во время записи (60 сек)\n"
    "  7  устройство не готово за --connect-timeout\n"
    "  128+N  сигнал N, после отключения (130 — Ctrl-C, 143 — SIGTERM)\n"
    "Для проверок: VEQ_FLASH_TIME_DIVISOR=N ускоряет таймер и паузы в N раз,\n"
    "а сеанс считает их полной длины.\n",
    {{"--port", "--baud", "--data-bits", "--parity", "--stop-bits", "--udp", "--udp-port",
      "--local-port", "--connect-timeout", "--records"},
     {"--yes", "--debug", "--json"},
     {"--port", "--udp"}}};

namespace {

constexpr int kMaxTimeDivisor = 1000;
constexpr double kMaxConnectTimeoutSeconds = 7 * 24 * 3600;

std::string ReadLinkOptions(const TParsedArgs& args, TFlashOptions& options) {
  const bool serial = args.Has("--port");
  options.Udp = args.Has("--udp");
  if (serial == options.Udp) return "нужен ровно один из --port ПОРТ и --udp IP";
  // The UDP ports stay open to a serial link: a kind-2 board is reached
  // over UDP at Connect whatever the link.
  for (const char* option : {"--baud", "--data-bits", "--parity", "--stop-bits"}) {
    if (options.Udp && args.Has(option)) return std::string(option) + " идёт только с --port";
  }
  options.Port = args.Value("--port");
  if (serial && options.Port.empty()) return "--port: нужно имя порта";
  if (std::string error = ReadLineOptions(args, options.Line); !error.empty()) return error;
  if (options.Udp) {
    options.UdpIp = args.Value("--udp");
    if (std::string error = CheckHostText("--udp", options.UdpIp); !error.empty()) return error;
  }
  if (std::string error = ReadPortOption(args, "--udp-port", 1, options.UdpPort); !error.empty())
    return error;
  return ReadPortOption(args, "--local-port", 0, options.LocalPort);
}

std::string ReadConnectTimeout(const TParsedArgs& args, TFlashOptions& options) {
  if (!args.Has("--connect-timeout")) return {};
  const std::string text = args.Value("--connect-timeout");
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !(seconds >= 0) ||
      seconds > kMaxConnectTimeoutSeconds) {
    return "--connect-timeout «" + text + "»: нужно число секунд от 0 до " +
           std::to_string(int(kMaxConnectTimeoutSeconds));
  }
  options.ConnectTimeoutMs = seconds == 0 ? 0 : std::max(1, static_cast<int>(seconds * 1000));
  return {};
}

TParsedArgs ParseFlashArgs(const std::vector<std::string>& args) {
  return ParseArgs(args, kFlashCommand.Options);
}

// "IP" or "IP:PORT" of one --udp target; PORT defaults to --udp-port.
std::string ReadUdpTarget(const std::string& text, uint16_t defaultPort, TGangTarget& target) {
  target.Udp = true;
  const size_t colon = text.rfind(':');
  target.Ip = text.substr(0, colon);
  target.UdpPort = defaultPort;
  if (colon != std::string::npos) {
    const auto port = ParseNumber(text.substr(colon + 1), 1, 65535);
    if (!port) return "--udp «" + text + "»: порт после двоеточия — число от 1 до 65535";
    target.UdpPort = static_cast<uint16_t>(*port);
  }
  return CheckHostText("--udp", target.Ip);
}

std::string ReadGangTargets(const TParsedArgs& args, TGangOptions& gang) {
  uint16_t defaultPort = 1001;
  if (std::string error = ReadPortOption(args, "--udp-port", 1, defaultPort); !error.empty())
    return error;
  std::set<std::string> labels;
  for (const auto& [option, value] : args.Repeated) {
    TGangTarget target;
    if (option == "--port") {
      if (value.empty()) return "--port: нужно имя порта";
      target.Port = value;
    } else if (std::string error = ReadUdpTarget(value, defaultPort, target); !error.empty()) {
      return error;
    }
    if (!labels.insert(target.Label()).second) return "цель " + target.Label() + " задана дважды";
    gang.Targets.push_back(target);
  }
  return {};
}

// The options each child takes as they were given, checked here first so
// that a mistake stops the gang once rather than every board.
std::string ReadGangOptions(const TParsedArgs& args, TGangOptions& gang) {
  if (args.Operands.size() != 1) return args.Operands.empty() ? "не задан образ" : "образ задаётся один";
  gang.Image = args.Operands.front();
  if (args.Has("--local-port"))
    return "--local-port с несколькими целями не задаётся: каждая получает свободный порт";
  if (std::string error = ReadGangTargets(args, gang); !error.empty()) return error;
  const bool serial = std::any_of(gang.Targets.begin(), gang.Targets.end(),
                                  [](const TGangTarget& target) { return !target.Udp; });
  TLineTexts line;
  if (std::string error = ReadLineOptions(args, line); !error.empty()) return error;
  for (const char* option : {"--baud", "--data-bits", "--parity", "--stop-bits"}) {
    if (!args.Has(option)) continue;
    if (!serial) return std::string(option) + " идёт только с --port";
    gang.SerialArgs.insert(gang.SerialArgs.end(), {option, args.Value(option)});
  }
  TFlashOptions checked;
  if (std::string error = ReadConnectTimeout(args, checked); !error.empty()) return error;
  for (const char* option : {"--connect-timeout", "--records"}) {
    if (args.Has(option)) gang.CommonArgs.insert(gang.CommonArgs.end(), {option, args.Value(option)});
  }
  if (args.Has("--records") && args.Value("--records").empty()) return "--records: нужно имя файла";
  for (const char* flag : {"--yes", "--debug"}) {
    if (args.Has(flag)) gang.CommonArgs.push_back(flag);
  }
  gang.Json = args.Has("--json");
  return {};
}

int RunGangCommand(const TParsedArgs& args, std::ostream& out, std::ostream& err) {
  TGangOptions gang;
  if (const std::string error = ReadGangOptions(args, gang); !error.empty())
    return UsageError(kFlashCommand, error, err);
  const TImageScan scan = ScanImage(gang.Image);
  if (const std::string problem = ImageProblem(scan, gang.Image); !problem.empty()) {
    err << "veq flash: " << problem << '\n';
    return int(TFlashExit::UsageOrImage);
  }
  // Every such board answers at the one fixed address, whatever the link.
  if (scan.BoardKind == kBoardKindOxr) {
    err << "veq flash: образ для платы вида 2 всегда пишется по адресу 192.168.0.254: сразу в "
           "несколько плат его не записать, задайте одну цель\n";
    return int(TFlashExit::UsageOrImage);
  }
  int signalsTaken = 0;
  // The children get the first signal from here and disconnect; a second
  // one quits at once and leaves them to finish that.
  TSignalWatcher watcher({SIGINT, SIGTERM}, [&signalsTaken](int signal) {
    if (++signalsTaken > 1) std::_Exit(kSignalExitBase + signal);
  });
  return RunGang(gang, watcher, out, err);
}

}  // namespace

std::string ParseFlashOptions(const std::vector<std::string>& args, const char* timeDivisorEnv,
                              TFlashOptions& options) {
  const TParsedArgs parsed = ParseFlashArgs(args);
  if (!parsed.Error.empty()) return parsed.Error;
  if (parsed.Repeated.size() > 1) return "несколько целей: каждую пишет свой veq flash (RunFlashCommand)";
  if (parsed.Operands.size() != 1) {
    return parsed.Operands.empty() ? "не задан образ" : "образ задаётся один";
  }
  options.Image = parsed.Operands.front();
  options.Yes = parsed.Has("--yes");
  options.Debug = parsed.Has("--debug");
  options.Json = parsed.Has("--json");
  if (parsed.Has("--records")) {
    options.Records = parsed.Value("--records");
    if (options.Records.empty()) return "--records: нужно имя файла";
  }
  if (std::string error = ReadLinkOptions(parsed, options); !error.empty()) return error;
  if (std::string error = ReadConnectTimeout(parsed, options); !error.empty()) return error;
  if (timeDivisorEnv != nullptr) {
    const auto divisor = ParseNumber(timeDivisorEnv, 1, kMaxTimeDivisor);
    if (!divisor) {
      return std::string(kTimeDivisorVariable) + " «" + timeDivisorEnv +
             "»: нужно число от 1 до " + std::to_string(kMaxTimeDivisor);
    }
    options.TimeDivisor = static_cast<int>(*divisor);
  }
  return {};
}

int RunFlashCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (ShowHelpIfAsked(kFlashCommand, args, out)) return 0;
  if (const TParsedArgs parsed = ParseFlashArgs(args);
      parsed.Error.empty() && parsed.Repeated.size() > 1) {
    return RunGangCommand(parsed, out, err);
  }
  TFlashOptions options;
  if (const std::string error = ParseFlashOptions(args, std::getenv(kTimeDivisorVariable), options);
      !error.empty()) {
    return UsageError(kFlashCommand, error, err);
  }
  if (options.Records.empty()) options.Records = ChosenRecordsPath();
  TImageScan scan = ScanImage(options.Image);
  if (const std::string problem = ImageProblem(scan, options.Image); !problem.empty()) {
    err << "veq flash: " << problem << '\n';
    return int(TFlashExit::UsageOrImage);
  }

  platform::SetMainThread();
  platform::SetErrorReportHook([&err](const std::string& text) {
    err << "veq flash: " << text << '\n' << std::flush;
  });
  // A second signal while the first one's Disconnect runs quits at once.
  int signalsTaken = 0;
  TSignalWatcher watcher({SIGINT, SIGTERM}, [&signalsTaken](int signal) {
    if (++signalsTaken > 1) std::_Exit(kSignalExitBase + signal);
    platform::Post([] {});  // wakes the main loop to look
  });
  TFlashRun run(options, std::move(scan), watcher, out, err);
  return run.Run();
}

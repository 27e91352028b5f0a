#include "tools/FlashCommand.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ostream>

#include "engine/ImageScan.h"
#include "platform/ErrorReport.h"
#include "platform/MainThread.h"
#include "tools/CommandLine.h"
#include "tools/SignalWatcher.h"

const char* const kFlashUsage =
    "usage: veq flash IMAGE (--port TEXT | --udp IP) [options]\n"
    "  Connects, waits until the device has announced itself (switch it off and\n"
    "  on) and is ready, writes IMAGE, and disconnects. Log lines go to standard\n"
    "  output, message boxes (and on a terminal the status and progress) to\n"
    "  standard error.\n"
    "  --port TEXT             serial port, as in the COM panel (ttyUSB0, /dev/pts/3)\n"
    "  --baud TEXT             line settings as in the COM panel\n"
    "  --data-bits TEXT          (defaults 9600, 8, odd, 1)\n"
    "  --parity TEXT\n"
    "  --stop-bits TEXT\n"
    "  --udp IP                the device's address\n"
    "  --udp-port N            the device's UDP port (default 1001)\n"
    "  --local-port N          the local UDP port (default 12345; 0: any free one);\n"
    "                          both also apply to a kind-2 board over --port\n"
    "  --yes                   answer OK when asked whether to write an image that\n"
    "                          is not newer than the board's software (without it\n"
    "                          the question is asked on the terminal; refused when\n"
    "                          standard input is not one)\n"
    "  --debug                 log the debug trace\n"
    "  --connect-timeout SECONDS  give up when the device is not ready by then\n"
    "                          (default: wait for ever)\n"
    "Exit status: 0 written (\"Успешно. Устройство перезагружается.\"), 1 the session\n"
    "ended any other way, 2 usage or image-file error, 3 the link could not be\n"
    "opened, 128+N on signal N after disconnecting (130 for Ctrl-C).\n"
    "Test aid: VEQ_FLASH_TIME_DIVISOR=N runs timer periods and sleeps N times\n"
    "faster while the session counts them at full length.\n";

namespace {

constexpr int kMaxTimeDivisor = 1000;
constexpr double kMaxConnectTimeoutSeconds = 7 * 24 * 3600;

std::string ReadLinkOptions(const TParsedArgs& args, TFlashOptions& options) {
  const bool serial = args.Has("--port");
  options.Udp = args.Has("--udp");
  if (serial == options.Udp) return "give exactly one of --port TEXT and --udp IP";
  // The UDP ports stay open to a serial link: a kind-2 board is reached
  // over UDP at Connect whatever the link.
  for (const char* option : {"--baud", "--data-bits", "--parity", "--stop-bits"}) {
    if (options.Udp && args.Has(option)) return std::string(option) + " goes with --port";
  }
  options.Port = args.Value("--port");
  options.Baud = args.Value("--baud", options.Baud);
  options.DataBits = args.Value("--data-bits", options.DataBits);
  options.Parity = args.Value("--parity", options.Parity);
  options.StopBits = args.Value("--stop-bits", options.StopBits);
  options.UdpIp = args.Value("--udp");
  if (serial && options.Port.empty()) return "--port needs a port text";
  if (options.Udp && options.UdpIp.empty()) return "--udp needs an address";
  if (args.Has("--udp-port")) {
    const auto port = ParseNumber(args.Value("--udp-port"), 1, 0xFFFF);
    if (!port) return "--udp-port takes a port number from 1 to 65535";
    options.UdpPort = static_cast<uint16_t>(*port);
  }
  if (args.Has("--local-port")) {
    const auto port = ParseNumber(args.Value("--local-port"), 0, 0xFFFF);
    if (!port) return "--local-port takes a port number from 0 to 65535";
    options.LocalPort = static_cast<uint16_t>(*port);
  }
  return {};
}

std::string ReadConnectTimeout(const TParsedArgs& args, TFlashOptions& options) {
  if (!args.Has("--connect-timeout")) return {};
  const std::string text = args.Value("--connect-timeout");
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !(seconds > 0) ||
      seconds > kMaxConnectTimeoutSeconds) {
    return "--connect-timeout takes a positive number of seconds";
  }
  options.ConnectTimeoutMs = std::max(1, static_cast<int>(seconds * 1000));
  return {};
}

// An image that a run would not write to its successful end is refused
// before anything is sent to the device.
std::string ImageProblem(const TImageScan& scan, const std::string& path) {
  if (!scan.Opened) return "cannot open the image '" + path + "'";
  if (scan.Ok()) return {};
  const auto bad = std::find_if(scan.Sections.begin(), scan.Sections.end(), [](const auto& s) {
    return s.Status != TSectionStatus::Ok && s.Status != TSectionStatus::EndMarker;
  });
  const size_t index = bad == scan.Sections.end() ? scan.Sections.size() : bad->Index;
  return "the image '" + path + "' would not be written to its end (section " +
         std::to_string(index) + " fails its check; see veq info --all)";
}

}  // namespace

std::string ParseFlashOptions(const std::vector<std::string>& args, const char* timeDivisorEnv,
                              TFlashOptions& options) {
  const TParsedArgs parsed =
      ParseArgs(args, {{"--port", "--baud", "--data-bits", "--parity", "--stop-bits", "--udp",
                        "--udp-port", "--local-port", "--connect-timeout"},
                       {"--yes", "--debug"}});
  if (!parsed.Error.empty()) return parsed.Error;
  if (parsed.Operands.size() != 1) {
    return parsed.Operands.empty() ? "no image given" : "give one image only";
  }
  options.Image = parsed.Operands.front();
  options.Yes = parsed.Has("--yes");
  options.Debug = parsed.Has("--debug");
  if (std::string error = ReadLinkOptions(parsed, options); !error.empty()) return error;
  if (std::string error = ReadConnectTimeout(parsed, options); !error.empty()) return error;
  if (timeDivisorEnv != nullptr) {
    const auto divisor = ParseNumber(timeDivisorEnv, 1, kMaxTimeDivisor);
    if (!divisor) {
      return std::string(kTimeDivisorVariable) + " takes a number from 1 to " +
             std::to_string(kMaxTimeDivisor);
    }
    options.TimeDivisor = static_cast<int>(*divisor);
  }
  return {};
}

int RunFlashCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    out << kFlashUsage;
    return 0;
  }
  TFlashOptions options;
  if (const std::string error = ParseFlashOptions(args, std::getenv(kTimeDivisorVariable), options);
      !error.empty()) {
    err << "veq flash: " << error << '\n' << kFlashUsage;
    return kFlashUsageOrImage;
  }
  TImageScan scan = ScanImage(options.Image);
  if (const std::string problem = ImageProblem(scan, options.Image); !problem.empty()) {
    err << "veq flash: " << problem << '\n';
    return kFlashUsageOrImage;
  }

  platform::SetMainThread();
  platform::SetErrorReportHook([&err](const std::string& text) {
    err << "veq flash: " << text << '\n' << std::flush;
  });
  // A second signal while the first one's Disconnect runs quits at once.
  int signalsTaken = 0;
  TSignalWatcher watcher({SIGINT, SIGTERM}, [&signalsTaken](int signal) {
    if (++signalsTaken > 1) std::_Exit(kFlashSignalBase + signal);
    platform::Post([] {});  // wakes the main loop to look
  });
  TFlashRun run(options, std::move(scan), watcher, out, err);
  return run.Run();
}

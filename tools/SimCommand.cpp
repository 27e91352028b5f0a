#include "tools/SimCommand.h"

#include <csignal>
#include <optional>
#include <ostream>
#include <stdexcept>

#include "serial/uRSbcom.h"
#include "tools/AtomicFile.h"
#include "tools/CommandLine.h"
#include "tools/SignalWatcher.h"
#include "tools/SimRunner.h"

const char* const kSimUsage =
    "usage: veq sim (--pty | --port DEVICE | --udp IP:PORT) [options]\n"
    "  Plays a VEQ board's boot loader. The first output line tells where it\n"
    "  listens: the port text for 'veq flash --port', or IP:PORT for\n"
    "  'veq flash --udp IP --udp-port PORT'; then one line per delivery received\n"
    "  (<<), answer sent (>>) and change of state (--).\n"
    "  --pty                 make a pseudo-terminal\n"
    "  --port DEVICE         use a serial device, with --baud, --data-bits,\n"
    "                        --parity, --stop-bits as for veq flash (9600 8 odd 1)\n"
    "  --udp IP:PORT         listen on this address (port 0: any free port)\n"
    "  --id TEXT             the 12-character identity (default VEQKUFX01105)\n"
    "  --out FILE            on exit, write the sections accepted in the last run\n"
    "                        as a .vqf image\n"
    "  --wrong-at K          answer WRONG to data block K of a run (K from 1)\n"
    "  --err-at K            answer ERR to data block K\n"
    "  --silent-at K         answer nothing from data block K on\n"
    "  --noise               surround every answer with bytes that are no answer\n"
    "  --delay-ms N          send every answer N ms late\n"
    "  --boot-after-ms N     ignore everything for N ms after start\n"
    "  --once                exit when the first programming run has ended\n"
    "Exit status: 0 stopped (signal or --once), 1 --out not written, 2 usage error,\n"
    "3 link not made.\n";

namespace {

// Surrounds answers: line ends and a byte that is no text, but no capital
// letter, so that it can neither form nor complete an answer.
const char* const kNoise = "\r\n.\x01";

constexpr int64_t kMaxMs = 24LL * 3600 * 1000;

struct TSimOptions {
  std::string Pty, Port, Udp;
  std::string Out;
  TDeviceModel::TSettings Model;
  line_driver::TLineSetting Line;
  bool Once = false;
};

bool ReadFault(const TParsedArgs& args, TDeviceModel::TSettings& model, std::string& error) {
  const std::pair<const char*, TDeviceModel::TFault> knobs[] = {
      {"--wrong-at", TDeviceModel::TFault::Wrong},
      {"--err-at", TDeviceModel::TFault::Err},
      {"--silent-at", TDeviceModel::TFault::Silent}};
  for (const auto& [option, fault] : knobs) {
    if (!args.Has(option)) continue;
    if (model.Fault != TDeviceModel::TFault::None) {
      error = "only one of --wrong-at, --err-at, --silent-at may be given";
      return false;
    }
    const auto block = ParseNumber(args.Value(option), 1, 0xFFFF * 0xFFFFLL);
    if (!block) {
      error = std::string(option) + " takes a block number from 1";
      return false;
    }
    model.Fault = fault;
    model.FaultBlock = static_cast<int>(*block);
  }
  return true;
}

bool ReadMilliseconds(const TParsedArgs& args, const char* option, int64_t& value,
                      std::string& error) {
  if (!args.Has(option)) return true;
  const auto ms = ParseNumber(args.Value(option), 0, kMaxMs);
  if (!ms) error = std::string(option) + " takes a number of milliseconds";
  value = ms.value_or(0);
  return ms.has_value();
}

// The serial line texts, read as the port component reads them. The
// driver's enumerations list their members in the component's order.
line_driver::TLineSetting LineFromTexts(const TParsedArgs& args) {
  line_driver::TLineSetting line;
  line.BitsPerSecond = BaudRateBitsPerSecond(StrToBaudRate(args.Value("--baud", "9600")));
  line.DataBits = 5 + StrToByteSize(args.Value("--data-bits", "8"));
  line.Parity = static_cast<line_driver::TParityBits>(StrToParity(args.Value("--parity", "odd")));
  line.StopBits =
      static_cast<line_driver::TStopBitCount>(StrToStopBits(args.Value("--stop-bits", "1")));
  return line;
}

std::optional<TSimOptions> ReadOptions(const TParsedArgs& args, std::string& error) {
  TSimOptions options;
  const int links = int(args.Has("--pty")) + int(args.Has("--port")) + int(args.Has("--udp"));
  if (links != 1) {
    error = "give exactly one of --pty, --port DEVICE, --udp IP:PORT";
    return std::nullopt;
  }
  options.Pty = args.Has("--pty") ? "pty" : "";
  options.Port = args.Value("--port");
  options.Udp = args.Value("--udp");
  options.Out = args.Value("--out");
  options.Once = args.Has("--once");
  options.Model.Identity = args.Value("--id", options.Model.Identity);
  if (options.Model.Identity.size() != 12) {
    error = "--id takes exactly 12 characters";
    return std::nullopt;
  }
  if (args.Has("--noise")) options.Model.Noise = kNoise;
  if (!ReadFault(args, options.Model, error) ||
      !ReadMilliseconds(args, "--delay-ms", options.Model.AnswerDelayMs, error) ||
      !ReadMilliseconds(args, "--boot-after-ms", options.Model.BootDelayMs, error)) {
    return std::nullopt;
  }
  for (const char* lineOption : {"--baud", "--data-bits", "--parity", "--stop-bits"}) {
    if (args.Has(lineOption) && options.Port.empty()) {
      error = std::string(lineOption) + " goes with --port only";
      return std::nullopt;
    }
  }
  options.Line = LineFromTexts(args);
  if (!args.Operands.empty()) {
    error = "unexpected argument '" + args.Operands.front() + "'";
    return std::nullopt;
  }
  return options;
}

std::unique_ptr<ISimLink> OpenLink(const TSimOptions& options) {
  if (!options.Pty.empty()) return OpenPtyLink();
  if (!options.Port.empty()) return OpenSerialLink(options.Port, options.Line);
  const size_t colon = options.Udp.rfind(':');
  const auto port = colon == std::string::npos
                        ? std::nullopt
                        : ParseNumber(options.Udp.substr(colon + 1), 0, 0xFFFF);
  if (!port) throw std::invalid_argument("--udp takes IP:PORT, not '" + options.Udp + "'");
  return OpenUdpLink(options.Udp.substr(0, colon), static_cast<uint16_t>(*port));
}

}  // namespace

int RunSimCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const TParsedArgs parsed = ParseArgs(
      args, {{"--port", "--udp", "--id", "--out", "--wrong-at", "--err-at", "--silent-at",
              "--delay-ms", "--boot-after-ms", "--baud", "--data-bits", "--parity", "--stop-bits"},
             {"--pty", "--noise", "--once", "--help", "-h"}});
  if (parsed.Error.empty() && parsed.Has("--help")) {
    out << kSimUsage;
    return 0;
  }
  std::string error = parsed.Error;
  const auto options = error.empty() ? ReadOptions(parsed, error) : std::nullopt;
  if (!options) {
    err << "veq sim: " << error << '\n' << kSimUsage;
    return 2;
  }

  std::unique_ptr<TSimRunner> sim;
  try {
    sim = std::make_unique<TSimRunner>(OpenLink(*options), options->Model);
  } catch (const std::invalid_argument& bad) {
    err << "veq sim: " << bad.what() << '\n' << kSimUsage;
    return 2;
  } catch (const std::exception& failure) {
    err << "veq sim: " << failure.what() << '\n';
    return 3;
  }
  sim->Once = options->Once;
  sim->OnLog = [&out](const std::string& line) { out << line << '\n' << std::flush; };
  out << sim->Where() << '\n' << std::flush;

  TSignalWatcher watcher({SIGINT, SIGTERM}, [&sim](int) { sim->RequestStop(); });
  sim->Run();

  if (!options->Out.empty() && !WriteFileAtomically(options->Out, sim->AcceptedImage())) {
    err << "veq sim: cannot write '" << options->Out << "'\n";
    return 1;
  }
  return 0;
}

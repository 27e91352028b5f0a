#include "tools/LineOptions.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <vector>

#include "common/Ipv4Text.h"
#include "serial/uRSbcom.h"
#include "udp/IdStack.h"

namespace {

constexpr int64_t kMinBaud = 50;
constexpr int64_t kMaxBaud = 4000000;

std::string Quoted(const std::string& option, const std::string& value) {
  return option + " «" + value + "»";
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string joined;
  for (const std::string& text : texts)
    joined += (joined.empty() ? "" : ", ") + text;
  return joined;
}

// The texts the port component has for one setting, in its order; taken
// from the component so that a check here can never pass a text it would
// silently replace by its default.
template <typename E>
std::vector<std::string> ComponentTexts(int count, std::string (*toText)(E)) {
  std::vector<std::string> texts;
  for (int value = 0; value < count; ++value)
    texts.push_back(toText(static_cast<E>(value)));
  return texts;
}

std::vector<std::string> BaudRatesByValue() {
  std::vector<TBaudRate> rates;
  for (int rate = 0; rate < kBaudRateCount; ++rate)
    rates.push_back(static_cast<TBaudRate>(rate));
  std::sort(rates.begin(), rates.end(), [](TBaudRate a, TBaudRate b) {
    return BaudRateBitsPerSecond(a) < BaudRateBitsPerSecond(b);
  });
  std::vector<std::string> texts;
  for (TBaudRate rate : rates)
    texts.push_back(BaudRateToStr(rate));
  return texts;
}

std::string CheckBaud(const std::string& text) {
  if (!ParseNumber(text, kMinBaud, kMaxBaud)) {
    return Quoted("--baud", text) + ": нужно целое число от " + std::to_string(kMinBaud) +
           " до " + std::to_string(kMaxBaud);
  }
  if (!IsKnownBaudRateText(text))
    return Quoted("--baud", text) + ": такой скорости порт не знает; можно " +
           Joined(BaudRatesByValue());
  return {};
}

std::string CheckOneOf(const std::string& option, const std::string& text,
                       const std::vector<std::string>& allowed) {
  if (std::find(allowed.begin(), allowed.end(), text) != allowed.end()) return {};
  return Quoted(option, text) + ": можно " + Joined(allowed);
}

// A dotted address in its plain form only: a field with a leading zero is
// refused, as some address parsers read it as octal.
bool IsDottedAddress(const std::string& text) {
  const std::optional<common::TIPv4Bytes> address = common::ParseIPv4(text);
  return address && common::FormatIPv4(*address) == text;
}

}  // namespace

std::string ReadLineOptions(const TParsedArgs& args, TLineTexts& line) {
  const struct {
    const char* Option;
    std::string& Text;
  } settings[] = {{"--baud", line.Baud},
                  {"--data-bits", line.DataBits},
                  {"--parity", line.Parity},
                  {"--stop-bits", line.StopBits}};
  for (const auto& setting : settings)
    setting.Text = args.Value(setting.Option, setting.Text);
  std::string error = CheckBaud(line.Baud);
  if (error.empty())
    error = CheckOneOf("--data-bits", line.DataBits, ComponentTexts(bs8 + 1, ByteSizeToStr));
  if (error.empty())
    error = CheckOneOf("--parity", line.Parity, ComponentTexts(paSpace + 1, ParityToStr));
  if (error.empty())
    error = CheckOneOf("--stop-bits", line.StopBits, ComponentTexts(sb2 + 1, StopBitsToStr));
  return error;
}

std::string CheckPortText(const std::string& option, const std::string& text, int64_t min,
                          uint16_t& port) {
  const auto number = ParseNumber(text, min, 0xFFFF);
  if (!number) {
    return Quoted(option, text) + ": нужен номер порта от " + std::to_string(min) + " до 65535";
  }
  port = static_cast<uint16_t>(*number);
  return {};
}

std::string ReadPortOption(const TParsedArgs& args, const std::string& option, int64_t min,
                           uint16_t& port) {
  return args.Has(option) ? CheckPortText(option, args.Value(option), min, port) : "";
}

std::string ResolveHostText(const std::string& option, const std::string& host, std::string& ip) {
  const std::string notAddress =
      Quoted(option, host) + ": это не адрес IPv4 (четыре числа 0–255 через точку)";
  if (host.find_first_not_of("0123456789.") == std::string::npos) {
    if (!IsDottedAddress(host)) return notAddress;
    ip = host;
    return {};
  }
  try {
    ip = NewStack()->ResolveAddress(host);
  } catch (const std::exception&) {
    return Quoted(option, host) + ": узел с таким именем не найден";
  }
  // The stack passes on as they are texts it reads as numbers, such as hex
  // fields, that the links would not take.
  return IsDottedAddress(ip) ? "" : notAddress;
}

std::string CheckHostText(const std::string& option, const std::string& host) {
  std::string ip;
  return ResolveHostText(option, host, ip);
}
